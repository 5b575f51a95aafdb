#include "platform/wide_win32.h"

#include <vector>

namespace sentrel {
namespace {

// Paths at least this long get the "\\?\" prefix. The classic limit is 260
// with the terminator; a directory must leave room for an 8.3 name inside.
constexpr size_t kClassicLimit = 248;

}  // namespace

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

namespace {

bool IsWideSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring SystemFullPath(const std::wstring& path) {
  DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return full;
}

}  // namespace

bool HasNameTheSystemWouldTrim(std::wstring_view path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = start;
    while (end < path.size() && !IsWideSeparator(path[end])) ++end;
    const std::wstring_view name = path.substr(start, end - start);
    if (!name.empty() && name != L"." && name != L".." &&
        (name.back() == L'.' || name.back() == L' ')) {
      return true;
    }
    start = end + 1;
  }
  return false;
}

std::wstring FullPathKeepingNames(std::wstring path) {
  if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // Only the start is left to the system (the current folder, the current
  // drive's): it would strip trailing dots and blanks from the names too.
  const size_t root = RootLengthOf<wchar_t>(path);
  std::wstring out;
  if (root >= 3) {
    out = path.substr(0, root);
  } else if (root == 2) {
    out = SystemFullPath(path.substr(0, 2));  // "C:": that drive's current folder
  } else if (root == 1) {
    out = SystemFullPath(L"\\");
  } else {
    out = SystemFullPath(L".");
  }
  if (out.empty() || out.back() != L'\\') out.push_back(L'\\');
  const size_t floor = RootLengthOf<wchar_t>(out);
  size_t start = root;
  while (start < path.size()) {
    size_t end = path.find(L'\\', start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring_view name = std::wstring_view(path).substr(start, end - start);
    if (name == L"..") {
      if (out.size() > floor) {
        out.pop_back();
        out.erase(out.find_last_of(L'\\') + 1);
      }
    } else if (!name.empty() && name != L".") {
      out.append(name);
      out.push_back(L'\\');
    }
    start = end + 1;
  }
  // A trailing separator stays only where one was written, and at a root.
  if (out.size() > floor && (path.empty() || !IsWideSeparator(path.back()))) out.pop_back();
  return out;
}

std::wstring WidePath(std::string_view utf8_path) {
  std::wstring path = Widen(utf8_path);
  // "\\?\" paths are taken literally by the system: "/" is no separator there.
  const bool verbatim = path.rfind(L"\\\\?\\", 0) == 0;
  if (verbatim) return path;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  if (path.size() < kClassicLimit && !HasNameTheSystemWouldTrim(path)) return path;
  // The prefix turns off the system's own clean-up of "." and "..", so the
  // full path is made first.
  const std::wstring full = FullPathKeepingNames(path);
  if (full.rfind(L"\\\\", 0) == 0) {
    if (full.rfind(L"\\\\?\\", 0) == 0 || full.rfind(L"\\\\.\\", 0) == 0) return full;
    return L"\\\\?\\UNC\\" + full.substr(2);
  }
  return L"\\\\?\\" + full;
}

std::string SystemErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = n > 0 ? Narrow(std::wstring_view(buffer, n)) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.')) {
    text.pop_back();
  }
  if (text.empty()) text = "error " + std::to_string(error);
  return text;
}

void FileTimeToUnix(const FILETIME& ft, int64_t& seconds, int64_t& nanoseconds) {
  // 100 ns steps from 1601-01-01 to 1970-01-01.
  constexpr int64_t kEpochSteps = 116444736000000000LL;
  const int64_t steps =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
      kEpochSteps;
  int64_t s = steps / 10000000;
  int64_t rem = steps % 10000000;
  if (rem < 0) {
    rem += 10000000;
    --s;
  }
  seconds = s;
  nanoseconds = rem * 100;
}

}  // namespace sentrel

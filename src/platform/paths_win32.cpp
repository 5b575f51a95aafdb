#include <windows.h>
#include <shlobj.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

std::string KnownFolder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::string out;
  if (SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path) == S_OK) out = Narrow(path);
  CoTaskMemFree(path);
  return out;
}

}  // namespace

const char kPathSeparator = '\\';

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

size_t FindLastSeparator(std::string_view path) { return path.find_last_of("\\/"); }

std::string NativeSeparators(std::string_view path) {
  std::string out(path);
  // A "\\?\" path is taken as written by the system: "/" is a name there.
  if (out.rfind("\\\\?\\", 0) == 0) return out;
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

size_t PathRootLength(std::string_view path) { return RootLengthOf<char>(path); }

bool IsAbsolutePath(std::string_view path) {
  // "\dir" starts at the root of the current drive: it is no path below
  // another folder. Only "C:name" is relative (to that drive's folder).
  const size_t root = PathRootLength(path);
  return root > 0 && !(root == 2 && path[1] == ':');
}

std::string ProgramPath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) return Narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string CurrentDirectory() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return std::string();
  std::wstring buf(n, L'\0');
  const DWORD got = GetCurrentDirectoryW(n, buf.data());
  buf.resize(got);
  std::string out = Narrow(buf);
  // "C:\" keeps its separator; every other folder has none at the end.
  if (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

// Windows file names ignore case: the name as written finds the file.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
  return folder + name;
}

std::string UserConfigHome() { return KnownFolder(FOLDERID_RoamingAppData); }
std::string UserDataHome() { return KnownFolder(FOLDERID_LocalAppData); }
std::string UserStateHome() { return KnownFolder(FOLDERID_LocalAppData); }
std::string UserStateFolder() {
  const std::string base = UserStateHome();
  return base.empty() ? base : base + "\\Sentrel\\state";
}

// The user's and the machine's own configuration, as Windows programs keep
// them; the shipped files sit beside the program, which is looked at first.
std::string UserConfigFolder() {
  const std::string base = UserConfigHome();
  return base.empty() ? base : base + "\\Sentrel";
}
std::string SystemConfigFolder() {
  const std::string base = KnownFolder(FOLDERID_ProgramData);
  return base.empty() ? base : base + "\\Sentrel";
}
std::string SharedDataFolder() { return std::string(); }

bool NamesConsole(const std::string& path) { return _stricmp(path.c_str(), "CON") == 0; }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  // The console device named for writing is the program's own output: its
  // lines then go where the program's messages go, a pipe or a file
  // included, and a program without a console window still writes them.
  if (NamesConsole(path) && mode[0] != 'r') {
    std::fflush(stdout);
    const int fd = _dup(_fileno(stdout));
    if (fd < 0) return nullptr;
    std::FILE* out = _fdopen(fd, "wb");
    if (out == nullptr) _close(fd);
    return out;
  }
  return _wfopen(WidePath(path).c_str(), Widen(mode).c_str());
}

std::FILE* OpenLogStream(const std::string& path) {
  // The C runtime's own opens never share deletion, and a renamed log would
  // then be refused with a sharing violation.
  const HANDLE h = CreateFileW(WidePath(path).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    errno = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_INVALID_NAME
                ? ENOENT
            : e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION
                ? EACCES
                : EIO;
    return nullptr;
  }
  // Text mode: each "\n" is written as CR LF.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_TEXT);
  if (fd < 0) {
    CloseHandle(h);
    errno = EIO;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "at");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace sentrel

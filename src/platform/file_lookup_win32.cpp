#include "platform/file_lookup.h"
#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

void Fill(const FILETIME& written, DWORD size_high, DWORD size_low, FoundFile& found) {
  FileTimeToUnix(written, found.mtime_sec, found.mtime_nsec);
  found.size = static_cast<int64_t>((static_cast<uint64_t>(size_high) << 32) | size_low);
}

// What a link (a reparse point) leads to; false when it leads nowhere.
bool FillFromTarget(const std::wstring& path, FoundFile& found) {
  ScopedHandle h(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.valid() || !GetFileInformationByHandle(h.get(), &info)) return false;
  Fill(info.ftLastWriteTime, info.nFileSizeHigh, info.nFileSizeLow, found);
  return true;
}

}  // namespace

bool StatFile(const std::string& path, FoundFile& found) {
  if (path.empty()) return false;
  const std::wstring wide = WidePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return false;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    if (!FillFromTarget(wide, found)) return false;
  } else {
    Fill(data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow, found);
  }
  const size_t slash = FindLastSeparator(path);
  found.name = slash == std::string::npos ? path : path.substr(slash + 1);
  return true;
}

bool FindFirstMatch(const std::string& directory,
                    const std::function<bool(std::string_view)>& accept,
                    FoundFile& found) {
  std::string dir = directory.empty() ? std::string(".\\") : directory;
  if (!IsPathSeparator(dir.back())) dir.push_back('\\');
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(WidePath(dir + "*").c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool hit = false;
  do {
    const std::string name = Narrow(data.cFileName);
    if (name == "." || name == ".." || !accept(name)) continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link that leads nowhere is no file to watch: the next match
      // stands for it.
      if (!FillFromTarget(WidePath(dir + name), found)) continue;
    } else {
      Fill(data.ftLastWriteTime, data.nFileSizeHigh, data.nFileSizeLow, found);
    }
    found.name = name;
    hit = true;
  } while (!hit && FindNextFileW(find, &data));
  FindClose(find);
  return hit;
}

}  // namespace sentrel

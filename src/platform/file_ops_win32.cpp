#include <windows.h>
#include <shellapi.h>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

std::string LastError() { return SystemErrorText(GetLastError()); }

EntryType TypeOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryType::kSymlink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryType::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryType::kOther;
  return EntryType::kFile;
}

EntryInfo Stat(const std::string& path, bool follow) {
  const std::wstring wide = WidePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) {
    EntryInfo info;
    info.denied = GetLastError() == ERROR_ACCESS_DENIED;
    return info;
  }
  EntryInfo info;
  info.type = TypeOf(data.dwFileAttributes);
  info.size = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
  ScopedHandle h(CreateFileW(
      wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
  BY_HANDLE_FILE_INFORMATION by_handle;
  if (h.valid() && GetFileInformationByHandle(h.get(), &by_handle)) {
    info.type = TypeOf(by_handle.dwFileAttributes);
    info.device = by_handle.dwVolumeSerialNumber;
    info.inode = (static_cast<uint64_t>(by_handle.nFileIndexHigh) << 32) | by_handle.nFileIndexLow;
    info.size = static_cast<int64_t>((static_cast<uint64_t>(by_handle.nFileSizeHigh) << 32) |
                                     by_handle.nFileSizeLow);
  } else if (follow && info.type == EntryType::kSymlink) {
    return EntryInfo();  // a link that leads nowhere
  }
  return info;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = FindLastSeparator(path);
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash);
}

}  // namespace

EntryInfo StatEntry(const std::string& path) { return Stat(path, false); }

bool ReadLinkTarget(const std::string&, std::string&) { return false; }
EntryInfo StatTarget(const std::string& path) { return Stat(path, true); }

bool ListDirectory(const std::string& dir, std::vector<std::string>& names, std::string& error) {
  names.clear();
  std::string pattern = dir;
  if (pattern.empty() || !IsPathSeparator(pattern.back())) pattern.push_back('\\');
  pattern.push_back('*');
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileExW(WidePath(pattern).c_str(), FindExInfoBasic, &data,
                                 FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) {
    error = LastError();
    return false;
  }
  do {
    std::string name = Narrow(data.cFileName);
    if (name != "." && name != "..") names.push_back(std::move(name));
  } while (FindNextFileW(find, &data));
  const DWORD last = GetLastError();
  FindClose(find);
  if (last != ERROR_NO_MORE_FILES) {
    error = SystemErrorText(last);
    return false;
  }
  return true;
}

// Folders for their owner alone need no more on Windows than a folder in
// the user's own profile has anyway.
bool MakeDirectories(const std::string& path, std::string& error, bool) {
  if (StatTarget(path).type == EntryType::kDirectory) return true;
  const std::string parent = ParentOf(path);
  // Up to the root ("C:", "\\server\share"), which is there or not at all.
  const bool root = parent.empty() || parent == "." || parent == path ||
                    (parent.size() == 2 && parent[1] == ':');
  if (!root && StatTarget(parent).type != EntryType::kDirectory &&
      !MakeDirectories(parent, error)) {
    return false;
  }
  if (CreateDirectoryW(WidePath(path).c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS && StatTarget(path).type == EntryType::kDirectory) {
    return true;
  }
  error = LastError();
  return false;
}

RenameOutcome RenameEntry(const std::string& from, const std::string& to, bool replace,
                          std::string& error) {
  if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                  replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    return RenameOutcome::kDone;
  }
  const DWORD e = GetLastError();
  if (e == ERROR_NOT_SAME_DEVICE) return RenameOutcome::kCrossDevice;
  if ((e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS) && !replace) {
    return RenameOutcome::kExists;
  }
  error = SystemErrorText(e);
  return RenameOutcome::kFailed;
}

bool RemoveFile(const std::string& path, std::string& error) {
  const std::wstring wide = WidePath(path);
  if (DeleteFileW(wide.c_str())) return true;
  DWORD e = GetLastError();
  // A read-only file is deleted as the shell deletes it: the mark is taken
  // off first.
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (e == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) &&
      SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    if (DeleteFileW(wide.c_str())) return true;
    e = GetLastError();
    SetFileAttributesW(wide.c_str(), attributes);
  }
  error = SystemErrorText(e);
  return false;
}

bool CreateNewFile(const std::string& path, const std::string& content, std::string& error) {
  ScopedHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    error = LastError();
    return false;
  }
  DWORD written = 0;
  if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                 nullptr) ||
      written != content.size()) {
    error = LastError();
    file.Reset();
    DeleteFileW(WidePath(path).c_str());
    return false;
  }
  return true;
}

// Every file system Windows uses takes names of 255 UTF-16 units, which no
// name of 255 bytes exceeds.
size_t MaxNameLength(const std::string&) { return 255; }

std::string AbsolutePath(const std::string& path) {
  std::string out = Narrow(FullPathKeepingNames(Widen(path.empty() ? std::string(".") : path)));
  if (out.size() > PathRootLength(out) && IsPathSeparator(out.back())) out.pop_back();
  return out;
}

TrashOutcome CheckSystemTrash(const std::string& path, std::string& error) {
  // The shell would strip a trailing dot or blank and bin another file.
  if (HasNameTheSystemWouldTrim(Widen(AbsolutePath(path)))) {
    error = "the Recycle Bin takes no name that ends in a dot or a blank";
    return TrashOutcome::kFailed;
  }
  return TrashOutcome::kDone;
}

TrashOutcome MoveToSystemTrash(const std::string& path, std::string& error) {
  if (CheckSystemTrash(path, error) == TrashOutcome::kFailed) return TrashOutcome::kFailed;
  // The shell's delete with the undo flag: into the Recycle Bin. Its list
  // ends in two NULs; the shell takes no "\\?\" names.
  std::wstring list = Widen(AbsolutePath(path));
  list.push_back(L'\0');
  list.push_back(L'\0');
  SHFILEOPSTRUCTW op = {};
  op.wFunc = FO_DELETE;
  op.pFrom = list.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI | FOF_NO_UI;
  const int r = SHFileOperationW(&op);
  if (r == 0 && !op.fAnyOperationsAborted) return TrashOutcome::kDone;
  error = r != 0 ? "the recycle bin refused it (" + std::to_string(r) + ")" : "cancelled";
  return TrashOutcome::kFailed;
}

}  // namespace sentrel

#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <memory>
#include <random>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

std::string LastError() { return ErrorText(GetLastError()); }

EntryType TypeOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryType::kSymlink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryType::kDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryType::kOther;
  return EntryType::kFile;
}

EntryInfo Stat(const std::string& path, bool follow) {
  const std::wstring wide = WidePath(path);
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return EntryInfo();
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

std::string BaseOf(const std::string& path) {
  const size_t slash = FindLastSeparator(path);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameContent(const std::wstring& a, const std::wstring& b, std::string& error) {
  ScopedHandle x(CreateFileW(a.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  ScopedHandle y(CreateFileW(b.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!x.valid() || !y.valid()) {
    error = LastError();
    return false;
  }
  constexpr DWORD kChunk = 1 << 16;
  std::unique_ptr<char[]> p(new char[kChunk]), q(new char[kChunk]);
  for (;;) {
    DWORD n = 0, m = 0;
    if (!ReadFile(x.get(), p.get(), kChunk, &n, nullptr) ||
        !ReadFile(y.get(), q.get(), kChunk, &m, nullptr)) {
      error = LastError();
      return false;
    }
    if (n != m || std::memcmp(p.get(), q.get(), n) != 0) {
      error = "the copy differs from the original";
      return false;
    }
    if (n == 0) return true;
  }
}

}  // namespace

EntryInfo StatEntry(const std::string& path) { return Stat(path, false); }
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
    error = ErrorText(last);
    return false;
  }
  return true;
}

bool MakeDirectories(const std::string& path, std::string& error) {
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
  error = ErrorText(e);
  return RenameOutcome::kFailed;
}

bool CopyRegularFile(const std::string& from, const std::string& to, bool replace, bool verify,
                     std::string& error) {
  if (!replace && StatEntry(to).exists()) {
    error = "the destination already exists";
    return false;
  }
  const std::wstring source = WidePath(from);
  // The data goes to a hidden name beside the target first.
  std::random_device rd;
  std::wstring temp;
  for (int tries = 0;; ++tries) {
    temp = WidePath(ParentOf(to) + "\\." + BaseOf(to) + ".sentrel-" + std::to_string(rd() % 1000000));
    if (CopyFileExW(source.c_str(), temp.c_str(), nullptr, nullptr, nullptr,
                    COPY_FILE_FAIL_IF_EXISTS)) {
      break;
    }
    const DWORD e = GetLastError();
    if ((e != ERROR_FILE_EXISTS && e != ERROR_ALREADY_EXISTS) || tries > 100) {
      error = ErrorText(e);
      return false;
    }
  }
  auto fail = [&](const std::string& why) {
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp.c_str());
    error = why;
    return false;
  };
  // The data must be on disk before anything relies on the copy: a move
  // deletes its source next, a replaced file is gone once the new one has
  // its name. A plain new copy leaves the source in place and skips it.
  if (verify || replace) {
    ScopedHandle out(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out.valid() || !FlushFileBuffers(out.get())) return fail(LastError());
  }
  if (verify) {
    std::string why;
    if (!SameContent(source, temp, why)) return fail(why);
  }
  if (!MoveFileExW(temp.c_str(), WidePath(to).c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
    const DWORD e = GetLastError();
    return fail(e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS
                    ? std::string("the destination already exists")
                    : ErrorText(e));
  }
  return true;
}

bool CopySymlink(const std::string&, const std::string&, bool, std::string& error) {
  // Making links needs a privilege most users lack; what a link leads to is
  // not copied in its place either.
  error = "links and junctions are not copied";
  return false;
}

bool MakeDirectoryLike(const std::string& path, const std::string& like, std::string& error) {
  // Made with the attributes of `like`, as the system does for a template.
  if (CreateDirectoryExW(WidePath(like).c_str(), WidePath(path).c_str(), nullptr)) return true;
  if (GetLastError() == ERROR_ALREADY_EXISTS && StatTarget(path).type == EntryType::kDirectory) {
    return true;
  }
  error = LastError();
  return false;
}

void FinishDirectoryLike(const std::string& path, const std::string& like) {
  ScopedHandle source(CreateFileW(WidePath(like).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ScopedHandle target(CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FILETIME created, accessed, written;
  if (source.valid() && target.valid() &&
      GetFileTime(source.get(), &created, &accessed, &written)) {
    SetFileTime(target.get(), &created, &accessed, &written);
  }
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
  error = ErrorText(e);
  return false;
}

bool RemoveEmptyDirectory(const std::string& path, std::string& error) {
  if (RemoveDirectoryW(WidePath(path).c_str())) return true;
  error = LastError();
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

std::string AbsolutePath(const std::string& path) {
  const std::wstring wide = Widen(path.empty() ? std::string(".") : NativeSeparators(path));
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  full.resize(n);
  std::string out = Narrow(full);
  if (out.size() > 3 && out.back() == '\\') out.pop_back();
  return out;
}

TrashOutcome MoveToSystemTrash(const std::string& path, std::string& error) {
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

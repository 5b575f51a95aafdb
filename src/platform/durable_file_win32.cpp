#include <fcntl.h>
#include <io.h>
// After windows.h (through wide_win32.h): the security calls.
#include "platform/wide_win32.h"
#include <aclapi.h>
#include <sys/stat.h>

#include <atomic>
#include <vector>
#include <cerrno>
#include <cstring>

#include "platform/durable_file.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

constexpr const char kTempSuffix[] = ".tmp";
// Windows errors are kept apart from the C runtime's numbers.
constexpr int kSystemError = 1 << 30;

size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/"); }

std::string FolderOf(const std::string& path) {
  const size_t cut = LastSeparator(path);
  return cut == std::string::npos ? std::string(".") : path.substr(0, cut + 1);
}

// The temporary names of `path`: "<path>.<pid>-<n>.tmp", one per save, so
// that two processes (or two saves) never write into the same one.
std::string TempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + "." + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(counter++) + kTempSuffix;
}

std::string ReasonOf(int error) {
  if (error & kSystemError) return SystemErrorText(static_cast<DWORD>(error & ~kSystemError));
  return std::strerror(error);
}

}  // namespace

DurableFileWriter::~DurableFileWriter() { Discard(); }

void DurableFileWriter::Discard() {
  if (fd_ < 0) return;
  _close(fd_);
  DeleteFileW(WidePath(temp_).c_str());
  fd_ = -1;
}

bool DurableFileWriter::Open(const std::string& path, std::string& error) {
  Discard();
  path_ = path;
  temp_ = TempName(path);
  error_ = 0;
  fd_ = _wopen(WidePath(temp_).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
               _S_IREAD | _S_IWRITE);
  if (fd_ < 0) {
    error = ReasonOf(errno);
    return false;
  }
  return true;
}

bool DurableFileWriter::Write(const void* data, size_t size) {
  if (fd_ < 0 || error_ != 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const unsigned piece = size < (size_t{1} << 30) ? static_cast<unsigned>(size) : 1u << 30;
    const int n = _write(fd_, p, piece);
    if (n <= 0) {
      error_ = errno != 0 ? errno : EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool DurableFileWriter::Commit(std::string& error) {
  if (fd_ < 0) {
    error = "not open";
    return false;
  }
  if (error_ == 0) {
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h)) {
      error_ = kSystemError | static_cast<int>(GetLastError());
    }
  }
  if (_close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  // The replacement goes to the disk before the call returns.
  if (error_ == 0 && !MoveFileExW(WidePath(temp_).c_str(), WidePath(path_).c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error_ = kSystemError | static_cast<int>(GetLastError());
  }
  if (error_ != 0) {
    DeleteFileW(WidePath(temp_).c_str());
    error = ReasonOf(error_);
    return false;
  }
  return true;
}

bool WriteDurablyAt(const std::string& path, uint64_t offset, const void* data, size_t size,
                    std::string& error) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  bool ok = GetFileType(h) == FILE_TYPE_DISK;
  DWORD e = ok ? 0 : ERROR_INVALID_FUNCTION;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  ok = ok && SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
  const char* p = static_cast<const char*>(data);
  while (ok && size > 0) {
    const DWORD piece = size < (size_t{1} << 30) ? static_cast<DWORD>(size) : DWORD{1} << 30;
    DWORD n = 0;
    ok = WriteFile(h, p, piece, &n, nullptr) && n > 0;
    p += n;
    size -= n;
  }
  ok = ok && SetEndOfFile(h) && FlushFileBuffers(h);
  if (!ok && e == 0) e = GetLastError();
  CloseHandle(h);
  if (!ok) error = e == ERROR_INVALID_FUNCTION ? "not a regular file" : SystemErrorText(e);
  return ok;
}

SequentialFileReader::~SequentialFileReader() {
  if (fd_ >= 0) _close(fd_);
}

bool SequentialFileReader::Open(const std::string& path, bool& missing, std::string& error) {
  missing = false;
  not_a_file_ = false;
  // A link is not followed: state is never read from where a link leads.
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    error = SystemErrorText(e);
    return false;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                    FILE_ATTRIBUTE_DEVICE)) {
    not_a_file_ = true;
    error = "not a regular file";
    return false;
  }
  fd_ = _wopen(WidePath(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (fd_ < 0) {
    missing = errno == ENOENT;
    error = ReasonOf(errno);
    return false;
  }
  struct _stati64 st;
  if (_fstati64(fd_, &st) != 0) {
    error = ReasonOf(errno);
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SequentialFileReader::Read(void* data, size_t size) {
  if (fd_ < 0) return false;
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const unsigned piece = size < (size_t{1} << 30) ? static_cast<unsigned>(size) : 1u << 30;
    const int n = _read(fd_, p, piece);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const size_t cut = LastSeparator(path);
  const std::string file_name = cut == std::string::npos ? path : path.substr(cut + 1);
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileExW(WidePath(folder + file_name + ".*" + kTempSuffix).c_str(),
                              FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    // The pattern also takes short (8.3) names: the long name decides.
    const std::string name = Narrow(found.cFileName);
    if (IsTemporaryNameOf(name, file_name) &&
        !(found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      // A save still running in another process loses its temporary file
      // and fails; its next one succeeds.
      DeleteFileW(WidePath(folder + name).c_str());
    }
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

namespace {

// The user this process runs as; empty when the system does not say.
std::vector<BYTE> ProcessUser() {
  std::vector<BYTE> user;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return user;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.resize(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size)) user.clear();
  CloseHandle(token);
  return user;
}

}  // namespace

bool IsPrivateFolder(const std::string& folder, std::string& problem, std::string& fix) {
  const std::wstring wide = WidePath(folder);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  fix = "remove it; Sentrel then makes it anew, for you only";
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    if (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND) return true;
    problem = "cannot be examined (" + SystemErrorText(e) + ")";
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    problem = "is a link";
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    problem = "is not a folder";
    return false;
  }
  // The owner must be this user (or the system or the administrators, who
  // can do anything anyway), and nobody else may be allowed to write.
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  const DWORD got = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                          &owner, nullptr, &dacl, nullptr, &sd);
  if (got != ERROR_SUCCESS) {
    problem = "cannot be examined (" + SystemErrorText(got) + ")";
    return false;
  }
  const std::vector<BYTE> user = ProcessUser();
  const PSID me = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(
                                               const_cast<BYTE*>(user.data()))->User.Sid;
  auto trusted = [me](PSID sid) {
    return (me != nullptr && EqualSid(sid, me)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerSid);
  };
  constexpr ACCESS_MASK kWrites = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                  WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  bool ok = true;
  if (owner == nullptr || !trusted(owner)) {
    problem = "belongs to another user";
    ok = false;
  } else if (dacl == nullptr) {
    problem = "can be written by everybody (it has no access list)";
    ok = false;
  } else {
    for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) continue;
      const auto* header = static_cast<ACE_HEADER*>(ace);
      if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE)) {
        continue;
      }
      const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
      PSID sid = const_cast<DWORD*>(&allowed->SidStart);
      if ((allowed->Mask & kWrites) != 0 && !trusted(sid)) {
        problem = "can be written by other users";
        fix = "take the other users' write access away in its Security properties, or remove it";
        ok = false;
      }
    }
  }
  LocalFree(sd);
  return ok;
}

}  // namespace sentrel

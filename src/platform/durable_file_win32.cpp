#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
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

SequentialFileReader::~SequentialFileReader() {
  if (fd_ >= 0) _close(fd_);
}

bool SequentialFileReader::Open(const std::string& path, bool& missing, std::string& error) {
  missing = false;
  // A link is not followed: state is never read from where a link leads.
  const DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD e = GetLastError();
    missing = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    error = SystemErrorText(e);
    return false;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
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
  const std::string prefix = (cut == std::string::npos ? path : path.substr(cut + 1)) + ".";
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileExW(WidePath(folder + prefix + "*" + kTempSuffix).c_str(),
                              FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
  if (h == INVALID_HANDLE_VALUE) return;
  const size_t suffix = sizeof kTempSuffix - 1;
  do {
    // The pattern also takes short (8.3) names: the long name decides.
    const std::string name = Narrow(found.cFileName);
    if (name.size() > prefix.size() + suffix && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix, suffix, kTempSuffix) == 0) {
      // A save still running in another process loses its temporary file
      // and fails; its next one succeeds.
      DeleteFileW(WidePath(folder + name).c_str());
    }
  } while (FindNextFileW(h, &found));
  FindClose(h);
}

}  // namespace sentrel

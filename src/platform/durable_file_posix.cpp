#include "platform/durable_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix_files.h"

namespace sentrel {
namespace {

constexpr const char kTempSuffix[] = ".tmp";

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The temporary names of `path`: "<path>.<pid>-<n>.tmp", one per save, so
// that two processes (or two saves) never write into the same one.
std::string TempName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + kTempSuffix;
}

}  // namespace

DurableFileWriter::~DurableFileWriter() { Discard(); }

void DurableFileWriter::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temp_.c_str());
  fd_ = -1;
}

bool DurableFileWriter::Open(const std::string& path, std::string& error) {
  Discard();
  path_ = path;
  temp_ = TempName(path);
  error_ = 0;
  fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error = posix::Reason(errno);
    return false;
  }
  return true;
}

bool DurableFileWriter::Write(const void* data, size_t size) {
  if (fd_ < 0 || error_ != 0) return false;
  const char* p = static_cast<const char*>(data);
  // In pieces the kernel takes whole, so that a large array is not copied.
  while (size > 0) {
    const size_t piece = size < (size_t{1} << 30) ? size : (size_t{1} << 30);
    if (!posix::WriteAll(fd_, p, piece)) {
      error_ = errno != 0 ? errno : EIO;
      return false;
    }
    p += piece;
    size -= piece;
  }
  return true;
}

bool DurableFileWriter::Commit(std::string& error) {
  if (fd_ < 0) {
    error = "not open";
    return false;
  }
  if (error_ == 0 && ::fdatasync(fd_) != 0) error_ = errno;
  if (::close(fd_) != 0 && error_ == 0) error_ = errno;
  fd_ = -1;
  if (error_ == 0 && ::rename(temp_.c_str(), path_.c_str()) != 0) error_ = errno;
  if (error_ != 0) {
    ::unlink(temp_.c_str());
    error = posix::Reason(error_);
    return false;
  }
  // The new name itself is made lasting by flushing its folder.
  posix::Fd dir(::open(FolderOf(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.ok()) ::fsync(dir.get());
  return true;
}

SequentialFileReader::~SequentialFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool SequentialFileReader::Open(const std::string& path, bool& missing, std::string& error) {
  missing = false;
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) {
    missing = errno == ENOENT;
    error = posix::Reason(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool SequentialFileReader::Read(void* data, size_t size) {
  if (fd_ < 0) return false;
  char* p = static_cast<char*>(data);
  while (size > 0) {
    const size_t piece = size < (size_t{1} << 30) ? size : (size_t{1} << 30);
    const ssize_t n = posix::ReadFull(fd_, p, piece);
    if (n < 0 || static_cast<size_t>(n) != piece) return false;
    p += piece;
    size -= piece;
  }
  return true;
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string folder = FolderOf(path);
  const size_t slash = path.find_last_of('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".";
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  const size_t suffix = sizeof kTempSuffix - 1;
  while (const struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() > prefix.size() + suffix && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix, suffix, kTempSuffix) == 0) {
      // A save still running in another process loses its temporary file
      // and fails; its next one succeeds.
      ::unlinkat(::dirfd(d), name.c_str(), 0);
    }
  }
  ::closedir(d);
}

}  // namespace sentrel

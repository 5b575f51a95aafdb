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

bool WriteDurablyAt(const std::string& path, uint64_t offset, const void* data, size_t size,
                    std::string& error) {
  posix::Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  struct stat st;
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0) {
    error = posix::Reason(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = "not a regular file";
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd.get(), p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = posix::Reason(n < 0 ? errno : EIO);
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  if (::ftruncate(fd.get(), static_cast<off_t>(offset)) != 0 || ::fdatasync(fd.get()) != 0) {
    error = posix::Reason(errno);
    return false;
  }
  return true;
}

SequentialFileReader::~SequentialFileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool SequentialFileReader::Open(const std::string& path, bool& missing, std::string& error) {
  missing = false;
  not_a_file_ = false;
  // Without O_NONBLOCK, a pipe in the file's place would wait for a writer
  // for ever; a regular file reads the same either way.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  if (fd_ < 0) {
    missing = errno == ENOENT;
    not_a_file_ = errno == ELOOP;
    error = not_a_file_ ? "not a regular file" : posix::Reason(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    not_a_file_ = true;
    error = "not a regular file";
    ::close(fd_);
    fd_ = -1;
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
  const std::string file_name = slash == std::string::npos ? path : path.substr(slash + 1);
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return;
  while (const struct dirent* e = ::readdir(d)) {
    struct stat st;
    if (!IsTemporaryNameOf(e->d_name, file_name) ||
        ::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    // A save still running in another process loses its temporary file
    // and fails; its next one succeeds.
    ::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

bool IsPrivateFolder(const std::string& folder, std::string& problem, std::string& fix) {
  struct stat st;
  if (::lstat(folder.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    problem = "cannot be examined (" + posix::Reason(errno) + ")";
    fix = "make it a folder of your own that only you can write";
    return false;
  }
  fix = "remove it; Sentrel then makes it anew, for you only";
  if (S_ISLNK(st.st_mode)) {
    problem = "is a symbolic link";
  } else if (!S_ISDIR(st.st_mode)) {
    problem = "is not a folder";
  } else if (st.st_uid != ::geteuid()) {
    problem = "belongs to another user";
  } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    problem = "can be written by other users";
    fix = "chmod go-w \"" + folder + "\"";
  } else {
    return true;
  }
  return false;
}

}  // namespace sentrel

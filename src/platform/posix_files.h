#ifndef SENTREL_PLATFORM_POSIX_FILES_H_
#define SENTREL_PLATFORM_POSIX_FILES_H_

// File helpers shared by the POSIX files of this folder.

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "platform/file_ops.h"

namespace sentrel::posix {

inline std::string Reason(int err) { return std::strerror(err); }

inline EntryInfo InfoOf(const struct stat& st) {
  EntryInfo info;
  if (S_ISREG(st.st_mode)) {
    info.type = EntryType::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    info.type = EntryType::kDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info.type = EntryType::kSymlink;
  } else {
    info.type = EntryType::kOther;
  }
  info.device = st.st_dev;
  info.inode = st.st_ino;
  info.size = st.st_size;
  return info;
}

// Owns a descriptor and closes it when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      Close();
      fd_ = o.fd_;
      o.fd_ = -1;
    }
    return *this;
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  int Close() {
    int rc = 0;
    if (fd_ >= 0) rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

inline bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Reads up to `size` bytes, fewer only at the end of the file.
inline ssize_t ReadFull(int fd, char* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, data + got, size - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

}  // namespace sentrel::posix

#endif  // SENTREL_PLATFORM_POSIX_FILES_H_

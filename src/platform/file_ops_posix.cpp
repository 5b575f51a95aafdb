#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/paths.h"

namespace sentrel {
namespace {

std::string Reason(int err) { return std::strerror(err); }

EntryInfo InfoOf(const struct stat& st) {
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

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Close() {
    int rc = 0;
    if (fd_ >= 0) rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
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
ssize_t ReadFull(int fd, char* data, size_t size) {
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

bool SameContent(int a, int b, std::string& error) {
  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<char[]> x(new char[kChunk]), y(new char[kChunk]);
  if (::lseek(a, 0, SEEK_SET) < 0 || ::lseek(b, 0, SEEK_SET) < 0) {
    error = Reason(errno);
    return false;
  }
  for (;;) {
    ssize_t n = ReadFull(a, x.get(), kChunk);
    ssize_t m = ReadFull(b, y.get(), kChunk);
    if (n < 0 || m < 0) {
      error = Reason(errno);
      return false;
    }
    if (n != m || std::memcmp(x.get(), y.get(), static_cast<size_t>(n)) != 0) {
      error = "the copy differs from the original";
      return false;
    }
    if (n == 0) return true;
  }
}

// Gives a finished temporary its final name.
bool Publish(const std::string& temp, const std::string& to, bool replace, std::string& error) {
  RenameOutcome r = RenameEntry(temp, to, replace, error);
  if (r == RenameOutcome::kDone) return true;
  if (r == RenameOutcome::kExists) error = "the destination already exists";
  ::unlink(temp.c_str());
  return false;
}

}  // namespace

EntryInfo StatEntry(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return EntryInfo();
  return InfoOf(st);
}

EntryInfo StatTarget(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return EntryInfo();
  return InfoOf(st);
}

bool ListDirectory(const std::string& dir, std::vector<std::string>& names, std::string& error) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) {
    error = Reason(errno);
    return false;
  }
  errno = 0;
  while (struct dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(std::move(name));
    errno = 0;
  }
  int err = errno;
  ::closedir(d);
  if (err != 0) {
    error = Reason(err);
    return false;
  }
  return true;
}

bool MakeDirectories(const std::string& path, std::string& error) {
  if (path.empty()) return true;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    error = Reason(ENOTDIR);
    return false;
  }
  std::string parent = ParentOf(path);
  if (parent != path && parent != "." && parent != "/" && !MakeDirectories(parent, error)) {
    return false;
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    error = Reason(errno);
    return false;
  }
  return true;
}

RenameOutcome RenameEntry(const std::string& from, const std::string& to, bool replace,
                          std::string& error) {
  int rc;
  if (replace) {
    rc = ::rename(from.c_str(), to.c_str());
  } else {
    rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
      // A file system without the no-replace flag: check, then rename. The
      // window between the two is the best this file system allows.
      if (StatEntry(to).exists()) return RenameOutcome::kExists;
      rc = ::rename(from.c_str(), to.c_str());
    }
  }
  if (rc == 0) return RenameOutcome::kDone;
  if (errno == EXDEV) return RenameOutcome::kCrossDevice;
  if (errno == EEXIST && !replace) return RenameOutcome::kExists;
  error = Reason(errno);
  return RenameOutcome::kFailed;
}

bool CopyRegularFile(const std::string& from, const std::string& to, bool replace, bool verify,
                     std::string& error) {
  Fd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) {
    error = Reason(errno);
    return false;
  }
  struct stat st;
  if (::fstat(in.get(), &st) != 0) {
    error = Reason(errno);
    return false;
  }
  if (!replace && StatEntry(to).exists()) {
    error = "the destination already exists";
    return false;
  }
  std::string temp = ParentOf(to) + "/." + BaseOf(to) + ".sentrel-XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  Fd out(::mkostemp(name.data(), O_CLOEXEC));
  if (out.get() < 0) {
    error = Reason(errno);
    return false;
  }
  temp.assign(name.data());
  auto fail = [&](int err) {
    error = Reason(err);
    out.Close();
    ::unlink(temp.c_str());
    return false;
  };

  constexpr size_t kChunk = 1 << 16;
  std::unique_ptr<char[]> buf(new char[kChunk]);
  for (;;) {
    ssize_t n = ::read(in.get(), buf.get(), kChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    if (n == 0) break;
    if (!WriteAll(out.get(), buf.get(), static_cast<size_t>(n))) return fail(errno);
  }
  if (::fchmod(out.get(), st.st_mode & 07777) != 0) return fail(errno);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (::futimens(out.get(), times) != 0) return fail(errno);
  // The data must be on disk before anything relies on the copy: a move
  // deletes its source next, a replaced file is gone once the new one has
  // its name. A plain new copy leaves the source in place and skips it.
  if ((verify || replace) && ::fsync(out.get()) != 0) return fail(errno);
  if (verify) {
    std::string why;
    if (!SameContent(in.get(), out.get(), why)) {
      out.Close();
      ::unlink(temp.c_str());
      error = why;
      return false;
    }
  }
  if (out.Close() != 0) {
    int err = errno;
    ::unlink(temp.c_str());
    error = Reason(err);
    return false;
  }
  return Publish(temp, to, replace, error);
}

bool CopySymlink(const std::string& from, const std::string& to, bool replace,
                 std::string& error) {
  std::vector<char> target(4096);
  ssize_t n;
  for (;;) {
    n = ::readlink(from.c_str(), target.data(), target.size());
    if (n < 0) {
      error = Reason(errno);
      return false;
    }
    if (static_cast<size_t>(n) < target.size()) break;
    target.resize(target.size() * 2);
  }
  std::string link(target.data(), static_cast<size_t>(n));
  if (!replace) {
    if (::symlink(link.c_str(), to.c_str()) == 0) return true;
    error = errno == EEXIST ? "the destination already exists" : Reason(errno);
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = ParentOf(to) + "/." + BaseOf(to) + ".sentrel-link" + std::to_string(attempt);
    if (::symlink(link.c_str(), temp.c_str()) == 0) return Publish(temp, to, true, error);
    if (errno != EEXIST) {
      error = Reason(errno);
      return false;
    }
  }
  error = Reason(EEXIST);
  return false;
}

bool MakeDirectoryLike(const std::string& path, const std::string& like, std::string& error) {
  struct stat st;
  mode_t mode = 0777;
  if (::stat(like.c_str(), &st) == 0) mode = st.st_mode & 07777;
  // Owner access is kept while the content goes in.
  if (::mkdir(path.c_str(), mode | 0700) != 0) {
    if (errno == EEXIST && StatTarget(path).type == EntryType::kDirectory) return true;
    error = Reason(errno);
    return false;
  }
  return true;
}

void FinishDirectoryLike(const std::string& path, const std::string& like) {
  struct stat st;
  if (::stat(like.c_str(), &st) != 0) return;
  ::chmod(path.c_str(), st.st_mode & 07777);
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

bool RemoveFile(const std::string& path, std::string& error) {
  if (::unlink(path.c_str()) == 0) return true;
  error = Reason(errno);
  return false;
}

bool RemoveEmptyDirectory(const std::string& path, std::string& error) {
  if (::rmdir(path.c_str()) == 0) return true;
  error = Reason(errno);
  return false;
}

bool CreateNewFile(const std::string& path, const std::string& content, std::string& error) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.get() < 0) {
    error = Reason(errno);
    return false;
  }
  if (!WriteAll(fd.get(), content.data(), content.size()) || ::fsync(fd.get()) != 0 ||
      fd.Close() != 0) {
    int err = errno;
    ::unlink(path.c_str());
    error = Reason(err);
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string& path) {
  std::string full = (!path.empty() && path[0] == '/') ? path : CurrentDirectory() + "/" + path;
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= full.size()) {
    size_t slash = full.find('/', pos);
    if (slash == std::string::npos) slash = full.size();
    std::string part = full.substr(pos, slash - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    pos = slash + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

TrashOutcome MoveToSystemTrash(const std::string&, std::string&) {
  return TrashOutcome::kNotHere;
}

}  // namespace sentrel

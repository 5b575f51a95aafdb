#include "platform/file_ops.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/posix_files.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

using posix::Fd;
using posix::InfoOf;
using posix::Reason;
using posix::WriteAll;

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool ReadLinkTarget(const std::string& path, std::string& target) {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buf.size()) {
      target.assign(buf.data(), static_cast<size_t>(n));
      return true;
    }
    if (buf.size() >= (1u << 16)) return false;
    buf.resize(buf.size() * 2);
  }
}

EntryInfo StatEntry(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return EntryInfo();
  return InfoOf(st);
}

EntryInfo StatTarget(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    EntryInfo info;
    info.denied = errno == EACCES;
    return info;
  }
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

bool MakeDirectories(const std::string& path, std::string& error, bool owner_only) {
  if (path.empty()) return true;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    error = Reason(ENOTDIR);
    return false;
  }
  std::string parent = ParentOf(path);
  if (parent != path && parent != "." && parent != "/" &&
      !MakeDirectories(parent, error, owner_only)) {
    return false;
  }
  if (::mkdir(path.c_str(), owner_only ? 0700 : 0777) != 0 && errno != EEXIST) {
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

bool RemoveFile(const std::string& path, std::string& error) {
  if (::unlink(path.c_str()) == 0) return true;
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

size_t MaxNameLength(const std::string& dir) {
  const long n = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
  return n > 0 ? static_cast<size_t>(n) : 255;
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

TrashOutcome CheckSystemTrash(const std::string&, std::string&) {
  return TrashOutcome::kNotHere;
}

}  // namespace sentrel

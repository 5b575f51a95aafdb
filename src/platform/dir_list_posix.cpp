#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dir_list.h"

namespace sentrel {

DirectoryListing::~DirectoryListing() { Close(); }

void DirectoryListing::Close() {
  if (dir_ != nullptr) closedir(static_cast<DIR*>(dir_));  // closes fd_ too
  dir_ = nullptr;
  fd_ = -1;
}

namespace {

void* OpenStream(int fd, int& fd_out) {
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    close(fd);
    return nullptr;
  }
  fd_out = fd;
  return d;
}

}  // namespace

bool DirectoryListing::Open(const std::string& path, bool follow_link) {
  Close();
  std::string name = path;
  // With a trailing "/" the system would follow a link despite O_NOFOLLOW.
  if (!follow_link) {
    while (name.size() > 1 && name.back() == '/') name.pop_back();
  }
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow_link ? 0 : O_NOFOLLOW);
  dir_ = OpenStream(open(name.c_str(), flags), fd_);
  return dir_ != nullptr;
}

bool DirectoryListing::OpenChild(const DirectoryListing& parent, std::string_view name) {
  Close();
  if (parent.fd_ < 0) return false;
  name_buf_.assign(name);
  dir_ = OpenStream(openat(parent.fd_, name_buf_.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                    fd_);
  return dir_ != nullptr;
}

bool DirectoryListing::Identity(uint64_t& device, uint64_t& inode) const {
  struct stat st;
  if (fd_ < 0 || fstat(fd_, &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool DirectoryListing::Next(DirEntryInfo& out) {
  if (dir_ == nullptr) return false;
  for (;;) {
    struct dirent* e = readdir(static_cast<DIR*>(dir_));
    if (e == nullptr) return false;
    struct stat st;
    if (fstatat(fd_, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone already
    out.name = e->d_name;
    const bool dots = e->d_name[0] == '.' &&
                      (e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0'));
    out.hidden = e->d_name[0] == '.' && !dots;
    out.is_directory = S_ISDIR(st.st_mode);
    out.mtime_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    out.mtime_nanoseconds = static_cast<int64_t>(st.st_mtim.tv_nsec);
    out.size = static_cast<int64_t>(st.st_size);
    out.device = static_cast<uint64_t>(st.st_dev);
    out.inode = static_cast<uint64_t>(st.st_ino);
    return true;
  }
}

}  // namespace sentrel

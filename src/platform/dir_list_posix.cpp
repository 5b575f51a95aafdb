#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/dir_list_posix.h"

namespace sentrel {

DirectoryListing::DirectoryListing() = default;
DirectoryListing::~DirectoryListing() { Close(); }

void DirectoryListing::Close() { impl_.reset(); }

namespace {

std::unique_ptr<DirectoryListing::Impl> OpenStream(int fd) {
  if (fd < 0) return nullptr;
  DIR* d = fdopendir(fd);
  if (d == nullptr) {
    close(fd);
    return nullptr;
  }
  auto impl = std::make_unique<DirectoryListing::Impl>();
  impl->dir = d;
  impl->fd = fd;
  return impl;
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
  impl_ = OpenStream(open(name.c_str(), flags));
  return impl_ != nullptr;
}

bool DirectoryListing::OpenChild(const DirectoryListing& parent, std::string_view name) {
  Close();
  if (!parent.impl_) return false;
  const std::string child(name);
  impl_ = OpenStream(
      openat(parent.impl_->fd, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return impl_ != nullptr;
}

bool DirectoryListing::Identity(uint64_t& device, uint64_t& inode) const {
  struct stat st;
  if (!impl_ || fstat(impl_->fd, &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool DirectoryListing::Next(DirEntryInfo& out) {
  if (!impl_) return false;
  for (;;) {
    struct dirent* e = readdir(impl_->dir);
    if (e == nullptr) return false;
    struct stat st;
    if (fstatat(impl_->fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone already
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

bool NewEntryHidden(std::string_view name) {
  return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

}  // namespace sentrel

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/file_lookup.h"

namespace sentrel {
namespace {

void FillFrom(const struct stat& st, FoundFile& found) {
  found.mtime_sec = static_cast<int64_t>(st.st_mtim.tv_sec);
  found.mtime_nsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  found.size = static_cast<int64_t>(st.st_size);
}

}  // namespace

bool StatFile(const std::string& path, FoundFile& found) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  size_t slash = path.rfind('/');
  found.name = slash == std::string::npos ? path : path.substr(slash + 1);
  FillFrom(st, found);
  return true;
}

bool FindFirstMatch(const std::string& directory,
                    const std::function<bool(std::string_view)>& accept,
                    FoundFile& found) {
  const char* dir_path = directory.empty() ? "." : directory.c_str();
  int dfd = open(dir_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return false;
  DIR* dir = fdopendir(dfd);
  if (dir == nullptr) {
    close(dfd);
    return false;
  }
  bool hit = false;
  while (struct dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (!accept(e->d_name)) continue;
    struct stat st;
    // An entry that vanished since the listing, or a dangling link, is no
    // file to watch: the next match stands for it.
    if (fstatat(dfd, e->d_name, &st, 0) != 0) continue;
    found.name = e->d_name;
    FillFrom(st, found);
    hit = true;
    break;
  }
  closedir(dir);
  return hit;
}

}  // namespace sentrel

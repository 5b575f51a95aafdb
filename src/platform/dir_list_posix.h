// The open directory behind a listing, shared by the Linux files of the
// platform that act on that very folder (the watch).
#ifndef SENTREL_PLATFORM_DIR_LIST_POSIX_H_
#define SENTREL_PLATFORM_DIR_LIST_POSIX_H_

#include <dirent.h>

#include "platform/dir_list.h"

namespace sentrel {

struct DirectoryListing::Impl {
  DIR* dir = nullptr;
  int fd = -1;
  ~Impl() {
    if (dir != nullptr) closedir(dir);  // closes fd too
  }
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DIR_LIST_POSIX_H_

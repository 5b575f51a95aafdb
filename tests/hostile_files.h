#ifndef SENTREL_TESTS_HOSTILE_FILES_H_
#define SENTREL_TESTS_HOSTILE_FILES_H_

// Test support: files that nobody makes on purpose, made the way someone
// out to break a monitor would.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace sentrel {

// Chains of folders far deeper than any path can name, made and removed one
// level at a time relative to the level above.

// Makes `depth` nested folders called `name` inside `root`, with an empty
// file "leaf" at the bottom. False if the system refused.
inline bool MakeFolderChain(const std::string& root, int depth, const char* name = "d") {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; fd >= 0 && i < depth; ++i) {
    mkdirat(fd, name, 0755);
    const int child = openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    fd = child;
  }
  if (fd < 0) return false;
  const int leaf = openat(fd, "leaf", O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  if (leaf >= 0) close(leaf);
  close(fd);
  return leaf >= 0;
}

// Removes such a chain from the bottom up.
inline void RemoveFolderChain(const std::string& root, const char* name = "d") {
  int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int depth = 0;
  for (int child; fd >= 0 && (child = openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0;
       ++depth) {
    close(fd);
    fd = child;
  }
  if (fd < 0) return;
  unlinkat(fd, "leaf", 0);
  for (; depth > 0; --depth) {
    const int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(fd);
    if (parent < 0) return;
    fd = parent;
    unlinkat(fd, name, AT_REMOVEDIR);
  }
  close(fd);
}

// Sets the last-write time of `path` to `seconds` since the epoch, whatever
// the value; the file system keeps what it can hold of it.
inline bool SetWriteTimeSeconds(const std::string& path, int64_t seconds) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(seconds), 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_HOSTILE_FILES_H_

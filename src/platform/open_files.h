#ifndef SENTREL_PLATFORM_OPEN_FILES_H_
#define SENTREL_PLATFORM_OPEN_FILES_H_

#include <cstdint>
#include <string>
#include <unordered_set>

namespace sentrel {

// Which files other processes hold open or locked, read once so that a whole
// directory check asks the system a single time. Stands for the exclusive
// open that tells whether a file is in use.
class OpenFileTable {
 public:
  // Reads every other process's open descriptors (/proc/<pid>/fd) and the
  // lock table (/proc/locks). Processes we may not inspect are passed over.
  static OpenFileTable Read();

  bool Contains(uint64_t device, uint64_t inode) const;
  size_t size() const { return open_.size(); }

 private:
  struct Hash {
    size_t operator()(const std::pair<uint64_t, uint64_t>& k) const {
      return std::hash<uint64_t>()(k.first * 0x9E3779B97F4A7C15ull ^ k.second);
    }
  };
  std::unordered_set<std::pair<uint64_t, uint64_t>, Hash> open_;
};

// Whether the file at `path` is in use by another process. A directory always
// counts as in use. A path that cannot be examined is not in use.
bool IsFileInUse(const std::string& path);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_OPEN_FILES_H_

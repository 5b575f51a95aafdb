#ifndef SENTREL_PLATFORM_OPEN_FILES_H_
#define SENTREL_PLATFORM_OPEN_FILES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sentrel {

// Tells whether the entries of a directory check are in use, standing for
// the exclusive open that tells it one file at a time. Linux reads once
// which files other processes hold open (/proc/<pid>/fd) or locked
// (/proc/locks), so that a whole check asks the system a single time;
// Windows tries the exclusive open of each entry asked about.
class OpenFileTable {
 public:
  // Gathers what the system tells at once. Processes we may not inspect are
  // passed over.
  static OpenFileTable Read();

  // Whether the entry `name` of the folder `folder` (its path, ending in a
  // separator), which its listing gave the identity `device` and `inode`, is
  // held by another process.
  bool InUse(const std::string& folder, std::string_view name, uint64_t device,
             uint64_t inode) const;
  // How many open files the table knows (0 where nothing is gathered ahead).
  size_t size() const;

  struct Impl;

 private:
  std::shared_ptr<const Impl> impl_;
};

// Whether the file at `path` is in use by another process (on Windows: by
// anyone, ourselves included, as an exclusive open sees it). A directory
// always counts as in use. A path that cannot be examined is not in use.
bool IsFileInUse(const std::string& path);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_OPEN_FILES_H_

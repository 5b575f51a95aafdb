#ifndef SENTREL_PLATFORM_DIR_LIST_H_
#define SENTREL_PLATFORM_DIR_LIST_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sentrel {

// One entry of a directory as a listing returns it. The name is valid until
// the next call of Next.
struct DirEntryInfo {
  std::string_view name;
  bool is_directory = false;  // a real directory, never a link or junction
  bool hidden = false;        // a dot-name other than "." and ".."; on
                              // Windows the hidden attribute
  int64_t mtime_seconds = 0;  // last-write time, UTC, since the epoch
  int64_t mtime_nanoseconds = 0;
  int64_t size = 0;
  // The entry's identity, where the listing tells it; 0 and 0 where it does
  // not (Windows), and then no two entries count as the same.
  uint64_t device = 0;
  uint64_t inode = 0;
};

// Whether an entry made under `name`, without further ado, is hidden as a
// listing tells it: a dot-name on POSIX; on Windows no name makes it so.
bool NewEntryHidden(std::string_view name);

// Lists one directory, entry by entry, in the order the file system gives
// them, "." and ".." included. A child is opened relative to its parent, so
// the full path of a deep entry may be of any length. Links (on Windows every
// reparse point: links and junctions) are entries, never directories.
class DirectoryListing {
 public:
  DirectoryListing();
  ~DirectoryListing();
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // Opens the directory at `path`; a link to a directory in its last place
  // is followed only with `follow_link`. False when it does not exist or
  // cannot be read.
  bool Open(const std::string& path, bool follow_link = true);
  // Opens the subdirectory `name` of an open listing; a link is never
  // followed. False when it cannot be read.
  bool OpenChild(const DirectoryListing& parent, std::string_view name);
  // The next entry; false at the end. An entry that vanishes before it can
  // be examined is passed over.
  bool Next(DirEntryInfo& out);
  // The identity of the open directory (device and inode; on Windows the
  // volume and file index); false when none is open or it cannot be read.
  bool Identity(uint64_t& device, uint64_t& inode) const;

  struct Impl;  // the system's directory stream

 private:
  // Watches the very folder a listing holds open.
  friend class DirWatchService;

  void Close();
  std::unique_ptr<Impl> impl_;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DIR_LIST_H_

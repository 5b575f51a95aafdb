#ifndef SENTREL_PLATFORM_FILE_OPS_H_
#define SENTREL_PLATFORM_FILE_OPS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sentrel {

// The file-system steps that copy, move, rename, delete and trash are built
// of. Each step either completes or leaves the tree as it was; failures come
// back as a readable reason in `error`.

enum class EntryType : uint8_t { kMissing, kFile, kDirectory, kSymlink, kOther };

struct EntryInfo {
  EntryType type = EntryType::kMissing;
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  // Missing as far as the asker can tell: a folder on its way may not be
  // searched by this user.
  bool denied = false;
  bool exists() const { return type != EntryType::kMissing; }
  // Whether both are the very same entry. An identity the system did not
  // tell (0) is never the same as another.
  bool SameAs(const EntryInfo& o) const {
    return exists() && o.exists() && inode != 0 && device == o.device && inode == o.inode;
  }
};

// The entry itself (a symbolic link is not followed).
EntryInfo StatEntry(const std::string& path);
// What the path leads to (a symbolic link is followed).
EntryInfo StatTarget(const std::string& path);

// What the symbolic link at `path` holds, as written in it (it may be
// relative to the link's folder). False when `path` is no link that can be
// read; on Windows, where links are not followed here, always false.
bool ReadLinkTarget(const std::string& path, std::string& target);

// The names of a directory, without "." and "..", in the directory's order.
bool ListDirectory(const std::string& dir, std::vector<std::string>& names, std::string& error);

// Creates the directory and any missing parents; an existing directory is
// fine. With `owner_only` the folders it creates are for their owner alone.
bool MakeDirectories(const std::string& path, std::string& error, bool owner_only = false);

enum class RenameOutcome : uint8_t { kDone, kCrossDevice, kExists, kFailed };
// Renames within one file system. Without `replace` an existing `to` is left
// alone and kExists comes back.
RenameOutcome RenameEntry(const std::string& from, const std::string& to, bool replace,
                          std::string& error);

// Removes a non-directory entry.
bool RemoveFile(const std::string& path, std::string& error);

// Writes a new file with `content`, failing when the name already exists
// (used to reserve a name atomically).
bool CreateNewFile(const std::string& path, const std::string& content, std::string& error);

// The longest name, in bytes, that the file system of the folder `dir`
// takes for one entry.
size_t MaxNameLength(const std::string& dir);

// Where the system keeps a recycle bin of its own (Windows), moves the entry
// there: kDone, or kFailed with the reason. kNotHere where the program keeps
// the user's trash itself (Linux: the freedesktop trash).
enum class TrashOutcome : uint8_t { kDone, kFailed, kNotHere };
TrashOutcome MoveToSystemTrash(const std::string& path, std::string& error);
// What MoveToSystemTrash would answer before it moves anything: kFailed for
// an entry the system's bin refuses by its name alone, with the reason.
TrashOutcome CheckSystemTrash(const std::string& path, std::string& error);

// `path` made absolute against the current directory ("." and ".."
// components and doubled separators removed, links not resolved).
std::string AbsolutePath(const std::string& path);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_FILE_OPS_H_

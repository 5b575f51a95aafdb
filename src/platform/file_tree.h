#ifndef SENTREL_PLATFORM_FILE_TREE_H_
#define SENTREL_PLATFORM_FILE_TREE_H_

#include <cstdint>
#include <string>

#include "platform/file_ops.h"

namespace sentrel {

// Copying, moving and removing whole trees. The entry a tree operation is
// given is found by its path once; everything below it is reached from the folder above it, never by a
// path again. A folder inside the tree that someone swaps for a link while
// the operation runs is then met as the link (copied, moved or removed as a
// link), and what the link leads to is never read, written or removed.

// The step of a tree operation that went wrong.
enum class TreeStep : uint8_t {
  kCopy,             // copying `path` to `other`
  kMove,             // moving `path` to `other`
  kRead,             // listing the folder `path`
  kRemoveAfterCopy,  // removing `path` once its copy was complete
  kRemoveAfterMove,  // removing the folder `path` once its content went
  kDelete,           // removing `path`
};

enum class ReplaceAnswer : uint8_t {
  kReplace,  // replace the existing entry
  kSkip,     // leave it, and the source with it (a declined question)
  kFail,     // leave it; the listener has said why, and it counts as failed
};

enum class TreeOutcome : uint8_t { kDone, kSkipped, kFailed };

// What a tree operation tells as it goes, and asks.
class TreeListener {
 public:
  virtual ~TreeListener() = default;
  // `from` now stands at `to`: a file or link copied or moved, or a folder
  // moved whole. `placed` is the entry at `to`.
  virtual void Placed(const std::string& from, const std::string& to,
                      const EntryInfo& placed) = 0;
  // A step failed for the reason `why`; `other` is the destination of a
  // copy or move, else empty.
  virtual void Failed(TreeStep step, const std::string& path, const std::string& other,
                      const std::string& why) = 0;
  // `existing`, a file or link at `to`, would be replaced by `from`.
  virtual ReplaceAnswer MayReplace(const std::string& from, const std::string& to,
                                   const EntryInfo& existing) = 0;
};

// Copies `from` (a folder with its content) to `to`, whose folder must
// exist; with `move` the original goes: by a rename where the file system
// allows, else each file once its copy is complete and read back equal, and
// each folder once its content went. A file is written under a short
// hidden temporary name beside its final one and takes that name only when
// complete, with the permissions and times of the original; a folder made
// for the copy takes them once its content is in, and goes again when none
// of its content could go in. An existing folder at `to` (or a link to one,
// at `to` itself only) takes the content; an existing file is replaced only
// when the listener agrees. A file never replaces a folder.
TreeOutcome TransferTree(const std::string& from, const std::string& to, bool move,
                         TreeListener& listener);

// Removes `path` and, when it is a folder, everything in it.
TreeOutcome RemoveTree(const std::string& path, TreeListener& listener);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_FILE_TREE_H_

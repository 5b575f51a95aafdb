#ifndef SENTREL_MONITOR_CHKDIR_WALK_H_
#define SENTREL_MONITOR_CHKDIR_WALK_H_

// What the directory item's check carries while it walks: shared by the
// item's loop (chkdir.cpp), the walk and comparison (chkdir_walk.cpp) and
// the partial check (chkdir_partial.cpp). Not for use outside the item.

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "monitor/chkdir.h"
#include "platform/open_files.h"

namespace sentrel {
namespace chkdir_internal {

// The check's verdict as it leaves it in Status.
constexpr uint8_t kStatusNothing = 1;
constexpr uint8_t kStatusReport = 2;

// What a partial check does with a folder of the previous snapshot.
enum FolderMark : uint8_t {
  kMarkRelist = 1,  // to be listed again: something in it changed
  kMarkBelow = 2,   // a folder below it is to be listed again
  kMarkKept = 4,    // listed again within its parent, found as it was
  kMarkListed = 8,  // was listed again
};

}  // namespace chkdir_internal

// One folder as the walk records it: its runs of entries between the
// subfolders walked, and those subfolders.
struct CheckDirThread::FolderOut {
  uint32_t record = kNoFolder;
  // A folder of the previous snapshot listed again by a partial check: its
  // record changes only once the check is done, so that the deletions can
  // still be read in the previous order.
  bool relisted = false;
  std::vector<SnapshotRun> runs;
  SnapshotRun current;
  std::vector<uint32_t> children;
  uint32_t count = 0;
  uint32_t flags = 0;
};

struct CheckDirThread::Walk {
  explicit Walk(size_t previous_entries) : taken(previous_entries) {}

  // What the last check recorded, and where this one records. A partial
  // check records into the same snapshot, after what is there.
  Snapshot* previous = nullptr;
  Snapshot* next = nullptr;
  TakenSet taken;
  bool partial = false;
  bool store_data = false;
  int condition_type = 0;
  // Age detection only: an entry last written before `old_before` is older
  // than "OlderInterval", counted in real seconds.
  Instant now = 0;
  Instant old_before = 0;
  std::optional<OpenFileTable> open_files;
  // (device, inode) of the folders being walked, root first: a folder
  // mounted again inside its own tree is not walked a second time under the
  // mount's name, and the depth of the walk is its length.
  std::vector<std::pair<uint64_t, uint64_t>> folders;
  bool Walking(uint64_t device, uint64_t inode) const {
    // An entry whose identity the listing does not tell is no folder met
    // before (where it does not, links are never folders either).
    if (device == 0 && inode == 0) return false;
    return std::find(folders.begin(), folders.end(), std::make_pair(device, inode)) !=
           folders.end();
  }
  // A watcher learns of each folder before the walk lists it.
  bool watching = false;
  bool unwatched = false;     // a folder could not be watched
  bool inconsistent = false;  // a partial check found the tree not as told
  // The new snapshot differs from the previous one: an entry is new, has
  // another time or is gone.
  bool changed = false;
  size_t listed = 0;
  size_t appended = 0;
  // Partial checks: a mark per folder of the previous snapshot, the folders
  // to be walked whole (made or moved in since), and the folders listed
  // again.
  std::vector<uint8_t> marks;
  std::unordered_set<std::string> whole;
  std::vector<FolderOut> relisted;

  // The previous check's subfolder of `parent` named `name`. The walk
  // normally meets subfolders in the order it met them the last time, so
  // `hint` (the one after the last found) is tried first. A folder of many
  // subfolders met in another order, or looked up for many changed paths,
  // gets an index by name for this check, so the lookups do not grow with
  // the square of its subfolders.
  uint32_t PreviousChild(uint32_t parent, std::string_view name, uint32_t hint) {
    constexpr size_t kFewChildren = 16;
    const Snapshot& s = *previous;
    if (parent == kNoFolder) return kNoFolder;
    if (hint != kNoFolder && s.folder_name(hint) == name) return hint;
    auto it = child_index.find(parent);
    if (it == child_index.end()) {
      size_t n = 0;
      for (uint32_t c = s.folder(parent).first_child; c != kNoFolder && n <= kFewChildren;
           c = s.folder(c).next_sibling) {
        ++n;
      }
      if (n <= kFewChildren) return s.FindChild(parent, name, kNoFolder);
      auto& index = child_index[parent];
      for (uint32_t c = s.folder(parent).first_child; c != kNoFolder;
           c = s.folder(c).next_sibling) {
        index.emplace(std::hash<std::string_view>()(s.folder_name(c)), c);
      }
      it = child_index.find(parent);
    }
    const auto range = it->second.equal_range(std::hash<std::string_view>()(name));
    for (auto c = range.first; c != range.second; ++c) {
      if (s.folder_name(c->second) == name) return c->second;
    }
    return kNoFolder;
  }
  std::unordered_map<uint32_t, std::unordered_multimap<size_t, uint32_t>> child_index;
};

template <typename F>
void CheckDirThread::ForEachGone(const Walk& walk, uint32_t folder, bool all, F&& gone) {
  const Snapshot& s = *walk.previous;
  const bool listed = all || (walk.marks[folder] & chkdir_internal::kMarkListed);
  s.ForEachInWalkOrder(
      folder,
      [&](size_t i, std::string_view name) {
        if (listed && !walk.taken.Has(i)) gone(folder, i, name);
      },
      [&](uint32_t c) {
        if (all || (listed && !(walk.marks[c] & chkdir_internal::kMarkKept))) {
          ForEachGone(walk, c, true, gone);
        } else if (walk.marks[c] & (chkdir_internal::kMarkListed | chkdir_internal::kMarkBelow)) {
          ForEachGone(walk, c, false, gone);
        }
      });
}

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHKDIR_WALK_H_

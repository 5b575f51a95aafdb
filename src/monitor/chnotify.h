#ifndef SENTREL_MONITOR_CHNOTIFY_H_
#define SENTREL_MONITOR_CHNOTIFY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/dir_watch.h"

namespace sentrel {

// How many levels below its root a directory item walks and watches. Each
// level walked holds a little of the walking thread's stack, a descriptor
// and a listing buffer, so a chain of folders made deep on purpose must end
// somewhere; what lies deeper counts as absent. No real tree comes near.
constexpr size_t kMaxFolderDepth = 1024;

// What changed in a watched tree since the item last asked.
struct TreeChanges {
  // News may have been lost (a full queue, a root replaced, a watch that
  // could not be kept, or nobody asked yet): anything may have changed.
  bool lost = true;
  // Folders (full paths ending in a separator) in which an entry was created,
  // deleted, moved, or written.
  std::unordered_set<std::string> folders;
  // Folders that appeared (made, or moved in): what they hold was never
  // announced, so they are to be walked whole.
  std::unordered_set<std::string> appeared;
};

// Wakes a directory item when something changes in its tree, so that it
// checks at once instead of at the end of its interval, and tells the check
// which folders changed, so that it need not walk the others.
//
// The trees of every item are watched by one shared service with one
// reader thread (see DirWatchService); this object holds one item's watch.
// The item's walk names each folder it lists (WatchFolder) just before it
// lists it, so that a system that watches folder by folder learns them from
// that listing and a change made after it is never missed.
class ChangeNotifyThread final : private TreeWatchClient {
 public:
  struct Settings {
    std::string root;         // ends in a separator
    bool subtree = false;     // the walk goes into subdirectories
    bool dir_names = false;   // directory entries' own changes count
    // A change after `calm_ms` without any wakes at once, unless it may go
    // on (a file created or written and not closed yet: waking then would
    // find it half-written and report it twice). Changes that come closer
    // together are gathered: the wake comes once they have paused for
    // `quiet_ms`, or `max_delay_ms` after the first of them, so that a
    // burst of changes leads to a few checks, not one per file. Changes
    // that may go on and are not seen to end wait `settle_ms` of quiet.
    int calm_ms = 50;
    int quiet_ms = 30;
    int max_delay_ms = 150;
    int settle_ms = 100;
    int max_settle_ms = 1000;
  };

  // `wake` is called on the shared reader thread; it must be quick.
  ChangeNotifyThread(Settings settings, std::function<void()> wake);
  ~ChangeNotifyThread() override;
  ChangeNotifyThread(const ChangeNotifyThread&) = delete;
  ChangeNotifyThread& operator=(const ChangeNotifyThread&) = delete;

  // Starts watching the root. False when it cannot be watched: then this
  // watcher never wakes its item until Follow finds the root.
  bool Open();
  // Ends every watch; once it returns, `wake` is never called again.
  void Stop();
  // Told before each check what the root path leads to now (`found`, and the
  // folder's identity). A root that was missing, removed, replaced or moved
  // away since it was watched is watched again where the path leads, so
  // that wake-ups come back with the folder. True when the root is watched.
  bool Follow(bool found, uint64_t device, uint64_t inode);
  // Watches the folder `listing` holds open, reached at `path` (below the
  // root, ending in a separator), before the walk lists it. False when it cannot be
  // watched (out of watches).
  bool WatchFolder(const std::string& path, const DirectoryListing& listing);
  // The changes since the last call, and a fresh start for the next ones.
  TreeChanges TakeChanges();
  // The check found these files (full paths) in a folder that had just
  // appeared, and held them back: their writers may not be done, and the
  // folder was not watched while they began. They count as being written:
  // the item is woken once each was closed, or after a pause in the news.
  void HoldBack(const std::vector<std::string>& files);
  // How many system watches the tree takes (see DirWatchService).
  size_t WatchCount();
  // Whether news of a change in `folder` (or of a loss) is waiting; for
  // tests that must know the watcher has heard everything up to a change.
  bool HeardOfForTesting(const std::string& folder);

 private:
  void OnTreeChange(const TreeChange& change) override;
  void OnTreeTimer() override;

  void WatchRoot();
  void Lose();
  void Changed(const std::string& folder);
  void Wake(bool may_go_on);
  bool Settled() const { return open_writes_.empty() && !open_writes_overflowed_; }
  void Fire(int64_t now);

  DirWatchService& service_;
  const Settings settings_;
  const std::function<void()> wake_;
  // Guarded by the service's mutex, like every callback.
  bool open_ = false;
  bool watching_ = false;  // the root is watched
  bool root_known_ = false;  // the watched root's identity, when it could be read
  uint64_t root_device_ = 0;
  uint64_t root_inode_ = 0;
  TreeChanges changes_;

  int64_t last_change_ms_ = INT64_MIN / 2;
  int64_t pending_since_ms_ = 0;
  bool wake_pending_ = false;
  bool burst_calm_ = false;  // the pending burst began after a calm
  // Files created or written whose writer has not been seen to close them.
  std::unordered_set<std::string> open_writes_;
  bool open_writes_overflowed_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHNOTIFY_H_

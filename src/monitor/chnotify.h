#ifndef SENTREL_MONITOR_CHNOTIFY_H_
#define SENTREL_MONITOR_CHNOTIFY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/dir_watch.h"

namespace sentrel {

// How many levels below its root a directory item walks and watches. Each
// level walked holds a little of the walking thread's stack, a descriptor
// and a listing buffer, so a chain of folders made deep on purpose must end
// somewhere; what lies deeper counts as absent. No real tree comes near.
constexpr size_t kMaxFolderDepth = 1024;

// Wakes a directory item when something changes in its tree, so that it
// checks at once instead of at the end of its interval, and keeps which
// folders the changes were in.
//
// The trees of every item are watched by one shared service with one
// reader thread (see DirWatchService); this object holds one item's watch.
class ChangeNotifyThread final : private TreeWatchClient {
 public:
  struct Settings {
    std::string root;         // ends in a separator
    bool subtree = false;     // watch every subdirectory too
    bool dir_names = false;   // directory entries' own changes count
    // A change after `calm_ms` without any wakes at once. Changes that
    // come closer together are gathered: the wake comes once they have
    // paused for `quiet_ms`, or `max_delay_ms` after the first of them,
    // so that a burst of changes leads to a few checks, not one per file.
    int calm_ms = 50;
    int quiet_ms = 30;
    int max_delay_ms = 150;
  };

  // The folders changes were seen in since they were last taken.
  struct Changes {
    // News was lost or the root went: anything in the tree may have
    // changed, and `folders` says nothing.
    bool everything = false;
    std::vector<std::string> folders;  // each ending in a separator
  };

  // `wake` is called on the shared reader thread; it must be quick.
  ChangeNotifyThread(Settings settings, std::function<void()> wake);
  ~ChangeNotifyThread() override;
  ChangeNotifyThread(const ChangeNotifyThread&) = delete;
  ChangeNotifyThread& operator=(const ChangeNotifyThread&) = delete;

  // Starts watching. False when the root cannot be watched: then this
  // watcher never wakes its item.
  bool Open();
  // Ends every watch; once it returns, `wake` is never called again.
  void Stop();
  // Told before each check what the root path leads to now (`found`, and the
  // folder's identity). A root that was missing, removed, replaced or moved
  // away since it was watched is watched again where the path leads, so
  // that wake-ups come back with the folder. True when the root is watched.
  bool Follow(bool found, uint64_t device, uint64_t inode);
  // How many system watches the tree takes (see DirWatchService).
  size_t WatchCount();
  // The changes seen since the last call, which start afresh.
  Changes TakeChanges();

 private:
  void OnTreeChange(const TreeChange& change) override;
  void OnTreeTimer() override;

  bool WatchRoot();
  void Wake();
  void Fire(int64_t now);

  DirWatchService& service_;
  const Settings settings_;
  const std::function<void()> wake_;
  // Guarded by the service's mutex, like every callback.
  bool open_ = false;
  bool root_known_ = false;  // the watched root's identity, when it could be read
  uint64_t root_device_ = 0;
  uint64_t root_inode_ = 0;
  bool everything_ = false;
  std::set<std::string> folders_;

  int64_t last_wake_ms_ = INT64_MIN / 2;
  int64_t last_change_ms_ = INT64_MIN / 2;
  int64_t pending_since_ms_ = 0;
  bool wake_pending_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHNOTIFY_H_

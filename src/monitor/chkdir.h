#ifndef SENTREL_MONITOR_CHKDIR_H_
#define SENTREL_MONITOR_CHKDIR_H_

#include <memory>
#include <mutex>
#include <string>

#include "monitor/basemon.h"
#include "monitor/chnotify.h"
#include "monitor/masks.h"
#include "monitor/snapshot.h"

namespace sentrel {

class DirectoryListing;
class OpenFileTable;

// A monitored directory tree. Each check walks the tree through its masks,
// records every entry in a snapshot and compares it with the previous
// check's snapshot to report files added, changed or deleted, or, in its
// second mode, files older than a threshold. With "RealTime" a watcher
// wakes it as soon as something changes.
class CheckDirThread : public BaseMonitoring {
 public:
  CheckDirThread(bool paused, Services& services);
  ~CheckDirThread() override;

  void RunLoop() override;
  uint8_t Check() override;
  void Configure() override;
  void Restart() override;

  const StringParam& Mask() const { return *mask_; }
  const StringParam& Conditions() const { return *conditions_; }
  size_t SnapshotSize() const { return snapshot_.size(); }
  // The previous check's snapshot, for measurements that need it in
  // another order. Only while the item's loop is not running.
  Snapshot& SnapshotForTesting() { return snapshot_; }
  // Whether a watcher is running, and how many directories it watches.
  bool WatcherRunning();
  size_t WatchCount();

 private:
  // What one check needs at hand while it walks.
  struct Walk;

  // Notes a root that will not lead where the user probably meant.
  void NoteRoot();
  void StartNotify();
  void StopNotify();
  void FollowRoot(bool found, uint64_t device, uint64_t inode);
  bool WalkStopped() const { return Terminated() || RebaselineSet(); }
  void ScanDirectory(Walk& walk, DirectoryListing& dir, std::string& path,
                     const PathHasher& prefix);
  void ProcessEntry(Walk& walk, const std::string& path, PathId id, Instant time,
                    int64_t size, bool in_use);
  uint8_t CompareWithSnapshot(Walk& walk, SnapshotEntry& entry);
  // For an entry in use: the new snapshot's last entry takes over its
  // previous entry, or is dropped when there is none.
  void KeepPrevious(Walk& walk);
  bool Condition(int position) const;

  Snapshot snapshot_;
  bool baseline_ = false;

  std::mutex watcher_mu_;
  std::unique_ptr<ChangeNotifyThread> watcher_;

  MaskList masks_;
  MaskList exclude_masks_;
  MaskList dir_masks_;
  MaskList exclude_dir_masks_;

  StringParam* mask_;
  StringParam* exclude_mask_;
  StringParam* dir_mask_;
  StringParam* excl_dir_mask_;
  BoolParam* dir_monitoring_;
  BoolParam* subdir_;
  BoolParam* count_hidden_;
  BoolParam* real_time_;
  BoolParam* inverse_;
  StringParam* conditions_;
  BoolParam* store_prev_info_;
  IntParam* condition_type_;
  IntParam* older_interval_;
  BoolParam* ignore_added_;
  BoolParam* ignore_opened_;
  BoolParam* break_;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHKDIR_H_

#ifndef SENTREL_MONITOR_CHKDIR_H_
#define SENTREL_MONITOR_CHKDIR_H_

#include <memory>
#include <mutex>
#include <string>

#include "monitor/basemon.h"
#include "monitor/chnotify.h"
#include "monitor/entry_rules.h"
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
  PathVerdict ExplainPath(const std::string& path) const override;
  std::string DescribeSelection() const override;

 protected:
  std::string StateSettings() const override;
  void WriteState(StateWriter& out) const override;
  bool ReadState(StateReader& in, std::string& why) override;

 public:

  const StringParam& Mask() const { return *mask_; }
  const StringParam& Conditions() const { return *conditions_; }
  size_t SnapshotSize() const { return snapshot_.size(); }
  // What the last check did: whether it looked only at the folders that
  // changed, and how many folders it listed.
  struct CheckStats {
    bool partial = false;
    size_t folders_listed = 0;
  };
  CheckStats LastCheckStats() const { return stats_; }
  // The previous check's snapshot, for measurements that need it in
  // another order. Only while the item's loop is not running.
  Snapshot& SnapshotForTesting() { return snapshot_; }
  // Whether a watcher is running, and how many directories it watches.
  bool WatcherRunning();
  size_t WatchCount();
  bool WatcherHeardOfForTesting(const std::string& folder);

 private:
  // What one check needs at hand while it walks, and what it records of
  // one folder.
  struct Walk;
  struct FolderOut;

  // Notes a root that will not lead where the user probably meant.
  void NoteRoot();
  // Notes a mask of a list that begins or ends with a blank: most likely
  // written after a ";" as in prose, and then it matches almost nothing.
  void NoteBlanks(const StringParam& p);
  void StartNotify();
  void StopNotify();
  // Tells the watcher where the root leads now; the changes since the last
  // check, or none without a watcher.
  TreeChanges FollowRoot(bool found, uint64_t device, uint64_t inode, bool& watching);
  bool WatchFolder(Walk& walk, const std::string& path, const DirectoryListing& listing);
  bool WalkStopped() const { return Terminated() || RebaselineSet(); }
  // Marks what a partial check must look at; false when it cannot be done
  // partially after all.
  bool PlanPartial(Walk& walk, const TreeChanges& changes);
  void ScanDirectory(Walk& walk, DirectoryListing& dir, std::string& path,
                     const PathHasher& prefix, FolderOut& out, uint32_t previous);
  // A partial check's way down to the folders that changed.
  void VisitChanged(Walk& walk, DirectoryListing& dir, std::string& path,
                    const PathHasher& prefix, uint32_t folder);
  // Stores a new folder's record once it is walked.
  void FinishFolder(Walk& walk, FolderOut& out);
  void ProcessEntry(Walk& walk, FolderOut& out, FolderMatch& match, const std::string& path,
                    std::string_view name, PathId id, Instant time, int64_t size, bool in_use);
  uint8_t CompareWithSnapshot(Walk& walk, FolderMatch& match, SnapshotEntry& entry);
  // For an entry in use: the new snapshot's last entry takes over its
  // previous entry, or is dropped when there is none.
  void KeepPrevious(Walk& walk, FolderOut& out, FolderMatch& match);
  // Calls `gone(folder, index, name)` for every entry of the previous
  // snapshot that the walk did not find again, in the previous walk order.
  template <typename F>
  void ForEachGone(const Walk& walk, uint32_t folder, bool all, F&& gone);
  void CommitPartial(Walk& walk);
  bool Condition(int position) const;
  // Change detection: whether "Conditions" count an entry found added,
  // changed or deleted (a kState value); the check and its explanation ask
  // here.
  bool Counts(uint8_t state) const;
  // Age detection: an entry last written before this is old at `now`.
  Instant OldBefore(Instant now) const;
  // What the conditions report, in words.
  std::string ConditionsText() const;
  // The value behind a mask rule, for an explanation that names it.
  std::string RuleValue(Selection s) const;

  Snapshot snapshot_;
  // Keys the path identities of the snapshot; comes with a saved state.
  uint64_t hash_seed_ = PathHasher::NewSeed();
  bool baseline_ = false;
  // The last walk could not leave the snapshot whole, or not every folder
  // could be watched: the next check walks everything.
  bool walk_everything_ = true;
  CheckStats stats_;

  std::mutex watcher_mu_;
  std::unique_ptr<ChangeNotifyThread> watcher_;

  EntryRules rules_;

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

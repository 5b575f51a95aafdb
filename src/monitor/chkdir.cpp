#include "monitor/chkdir.h"

#include <string>

#include "config/path_remarks.h"
#include "monitor/chkdir_walk.h"
#include "monitor/state_file.h"
#include "platform/clock.h"
#include "platform/dir_list.h"
#include "platform/open_files.h"
#include "platform/paths.h"

namespace sentrel {

using namespace chkdir_internal;

CheckDirThread::CheckDirThread(bool paused, Services& services)
    : BaseMonitoring(paused, services) {
  mask_ = AddParam<StringParam>("Mask", "*");
  exclude_mask_ = AddParam<StringParam>("ExcludeMask", "");
  dir_mask_ = AddParam<StringParam>("DirMask", "*");
  excl_dir_mask_ = AddParam<StringParam>("ExclDirMask", "");
  dir_monitoring_ = AddParam<BoolParam>("DirMonitoring", false);
  subdir_ = AddParam<BoolParam>("Subdir", false);
  count_hidden_ = AddParam<BoolParam>("CountHidden", true);
  real_time_ = AddParam<BoolParam>("RealTime", false);
  inverse_ = AddParam<BoolParam>("Inverse", false);
  conditions_ = AddParam<StringParam>("Conditions", "1100", 4);
  store_prev_info_ = AddParam<BoolParam>("StorePrevInfo", false);
  condition_type_ = AddParam<IntParam>("ConditionType", 0, 0, 1);
  older_interval_ = AddParam<IntParam>("OlderInterval", 3600, 1, 2147483647);
  ignore_added_ = AddParam<BoolParam>("IgnoreAdded", true);
  ignore_opened_ = AddParam<BoolParam>("IgnoreOpened", false);
  break_ = AddParam<BoolParam>("Break", false);
}

CheckDirThread::~CheckDirThread() { StopNotify(); }

void CheckDirThread::Configure() {
  BaseMonitoring::Configure();
  std::string root = NativeSeparators(FileName().Value());
  if (root.empty()) root = CurrentDirectory();
  // The current directory may be the root itself: no second separator then.
  if (root.empty() || !IsPathSeparator(root.back())) root.push_back(kPathSeparator);
  FileName().SetText(root);
  if (notes() != nullptr) NoteRoot();
  NoteFlags(*conditions_, 4);

  rules_ = EntryRules();
  rules_.subdir = subdir_->Value();
  rules_.dir_monitoring = dir_monitoring_->Value();
  rules_.count_hidden = count_hidden_->Value();
  const std::pair<const StringParam*, MaskList*> lists[] = {
      {mask_, &rules_.masks},
      {exclude_mask_, &rules_.exclude_masks},
      {dir_mask_, &rules_.dir_masks},
      {excl_dir_mask_, &rules_.exclude_dir_masks}};
  for (const auto& [param, list] : lists) {
    NoteBlanks(*param);
    try {
      SplitMasks(param->Value(), *list);
    } catch (const InvalidMask& e) {
      NoteError(*param, param->Name() + ": " + e.what() + "; the directory item \"" +
                            FileName().Value() + "\" (line " + std::to_string(OriginLine()) +
                            ") is left out");
      throw;
    }
  }
}

void CheckDirThread::NoteRoot() {
  const std::string& root = FileName().Value();
  if (StartsWithTilde(root)) {
    Note(FileName(), "FileName: \"" + root +
                         "\": \"~\" is not expanded here; write the full path of the folder");
    return;
  }
  const std::string trouble = FolderTrouble(root);
  if (trouble.empty()) return;
  Note(FileName(), "FileName: folder \"" + root + "\" " + trouble + EnvironmentHint(root) +
                       "; the item finds nothing there until it " +
                       (trouble == "does not exist" ? "does" : "can read it"));
}

void CheckDirThread::NoteBlanks(const StringParam& p) {
  if (notes() == nullptr) return;
  for (std::string_view piece : MaskPieces(p.Value())) {
    const bool begins = piece.front() == ' ' || piece.front() == '\t';
    if (!begins && piece.back() != ' ' && piece.back() != '\t') continue;
    Note(p, p.Name() + ": the mask \"" + std::string(piece) + "\" " +
                (begins ? "begins" : "ends") +
                " with a blank, so it matches only names that do too; masks are separated by "
                "\";\" alone");
  }
}

void CheckDirThread::RunLoop() {
  // A single pass has no later check to wake, and must not hold back the
  // files of new folders for one.
  if (!SinglePass()) StartNotify();
  BaseMonitoring::RunLoop();
  // The item may outlive its loop for a while; nothing should wake it now.
  StopNotify();
}

void CheckDirThread::Restart() {
  StartNotify();
  BaseMonitoring::Restart();
}

void CheckDirThread::StartNotify() {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  watcher_.reset();
  walk_everything_ = true;
  if (!real_time_->Value()) return;
  ChangeNotifyThread::Settings settings;
  settings.root = FileName().Value();
  settings.subtree = subdir_->Value();
  settings.dir_names = dir_monitoring_->Value();
  watcher_ = std::make_unique<ChangeNotifyThread>(settings, [this] { RequestCheck(); });
  // A root that cannot be watched leaves a watcher that never wakes: the
  // periodic checks go on.
  watcher_->Open();
}

void CheckDirThread::StopNotify() {
  std::unique_ptr<ChangeNotifyThread> old;
  {
    std::lock_guard<std::mutex> lock(watcher_mu_);
    old = std::move(watcher_);
  }
  // Destroying it stops it; after that it never calls RequestCheck again.
  old.reset();
}

TreeChanges CheckDirThread::FollowRoot(bool found, uint64_t device, uint64_t inode,
                                       bool& watching) {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  watching = watcher_ && watcher_->Follow(found, device, inode);
  return watcher_ ? watcher_->TakeChanges() : TreeChanges();
}

bool CheckDirThread::WatchFolder(Walk& walk, const std::string& path,
                                 const DirectoryListing& listing) {
  if (!walk.watching) return false;
  std::lock_guard<std::mutex> lock(watcher_mu_);
  if (watcher_ && watcher_->WatchFolder(path, listing)) return true;
  walk.unwatched = true;
  return false;
}

bool CheckDirThread::WatcherHeardOfForTesting(const std::string& folder) {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  return watcher_ && watcher_->HeardOfForTesting(folder);
}

bool CheckDirThread::WatcherRunning() {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  return watcher_ != nullptr;
}

size_t CheckDirThread::WatchCount() {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  return watcher_ ? watcher_->WatchCount() : 0;
}

bool CheckDirThread::Condition(int position) const {
  const std::string& c = conditions_->Value();
  return c.size() >= static_cast<size_t>(position) && c[position - 1] == '1';
}

bool CheckDirThread::Counts(uint8_t state) const {
  switch (state) {
    case kStateChanged:
      return Condition(1) || Condition(4);
    case kStateAdded:
      return Condition(2) || Condition(4);
    case kStateDeleted:
      return Condition(3) || Condition(4);
    default:
      return false;
  }
}

Instant CheckDirThread::OldBefore(Instant now) const {
  // No overflow: the interval is below 69 years and now is after 1970.
  return now - older_interval_->Value() * kNanosPerSecond;
}

uint8_t CheckDirThread::Check() {
  baseline_ = TakeRebaseline();
  // The first check of a run compares with the state the last run saved, if
  // any, instead of taking a baseline: what changed while Sentrel was not
  // running is reported now. Nothing was watched meanwhile, so it walks
  // everything.
  if (baseline_ && LoadState()) {
    baseline_ = false;
    walk_everything_ = true;
  }
  SetStatus(kStatusNothing);
  stats_ = CheckStats();

  const int type = condition_type_->Value();
  const bool records = store_prev_info_->Value() && type == 0;
  Walk walk(snapshot_.entry_slots());
  walk.condition_type = type;
  walk.store_data = records;
  if (type == 1) {
    walk.now = services_.clock->RealNow();
    walk.old_before = OldBefore(walk.now);
  }
  if (ignore_opened_->Value()) walk.open_files = OpenFileTable::Read();

  const std::string& root_path = FileName().Value();
  std::string path = root_path;
  DirectoryListing root;
  uint64_t device = 0, inode = 0;
  const bool opened = root.Open(path);
  const bool known = opened && root.Identity(device, inode);
  // Before the walk, so that a change after the listing wakes the item.
  const TreeChanges changes = FollowRoot(known, device, inode, walk.watching);
  walk.hold_new = walk.watching && !baseline_ && type == 0;

  // A check woken by a change looks only at the folders that changed, as
  // long as the watch has lost nothing since the last whole walk.
  const bool partial = walk.watching && CheckRequested() && !baseline_ && type == 0 &&
                       !changes.lost && !walk_everything_ && known && !snapshot_.empty() &&
                       snapshot_.has_records() == records &&
                       snapshot_.folder(0).device == device && snapshot_.folder(0).inode == inode;
  walk.previous = &snapshot_;
  walk.partial = partial && PlanPartial(walk, changes);
  walk_everything_ = false;

  Snapshot next(records);
  walk.next = walk.partial ? &snapshot_ : &next;
  if (!walk.partial) next.ReserveLike(snapshot_);

  if (opened) {
    if (known) walk.folders.emplace_back(device, inode);
    PathHasher hasher(hash_seed_);
    hasher.Update(path);
    if (walk.partial) {
      VisitChanged(walk, root, path, hasher, 0);
    } else {
      FolderOut out;
      out.record = next.AddFolder(kNoFolder, "", device, inode);
      ++walk.listed;
      ScanDirectory(walk, root, path, hasher, out, snapshot_.empty() ? kNoFolder : 0);
      FinishFolder(walk, out);
    }
  }

  uint8_t outcome = 0;
  if (!WalkStopped()) {
    if (type == 0 && !baseline_) {
      if (Counts(kStateDeleted) && !snapshot_.empty()) {
        bool done = false;
        ForEachGone(walk, 0, !walk.partial, [&](uint32_t folder, size_t i, std::string_view name) {
          walk.changed = true;
          SetStatus(kStatusReport);
          if (!records || done) return;
          FileData gone(snapshot_.FolderPath(folder, root_path).append(name),
                        FileTimeToLocalDateTime(snapshot_.entry(i).time),
                        snapshot_.record_size(i), kStateDeleted);
          ReportedFiles.push_back(std::move(gone));
          done = break_->Value();
        });
      }
      if (inverse_->Value()) {
        SetStatus(Status() == kStatusReport ? kStatusNothing : kStatusReport);
      }
    }
    outcome = Status() == kStatusReport ? 1 : 0;
    if (SaveState().Value()) {
      // Age detection looks up old entries only; its snapshot (kept with
      // "IgnoreAdded") is taken as changed at every check.
      if (baseline_ || (type == 1 && ignore_added_->Value())) walk.changed = true;
      if (!walk.changed && !snapshot_.empty()) {
        ForEachGone(walk, 0, !walk.partial,
                    [&](uint32_t, size_t, std::string_view) { walk.changed = true; });
      }
      if (walk.changed) MarkStateChanged();
    }
  }

  if (Terminated()) {
    // The item is ending, perhaps halfway through the walk, and its actions
    // will not run: the previous snapshot, whole, is what its state keeps,
    // so that the next run reports what this check found. (A partial check
    // has only added to its arrays, nothing that the tree leads to.)
  } else if (walk.partial) {
    CommitPartial(walk);
  } else {
    next.SetLiveEntries(next.entry_slots());
    next.Trim();
    snapshot_ = std::move(next);
  }
  if (WalkStopped() || walk.unwatched || walk.inconsistent) walk_everything_ = true;
  if (!walk.held_back.empty() && !WalkStopped()) {
    std::lock_guard<std::mutex> lock(watcher_mu_);
    if (watcher_) watcher_->HoldBack(walk.held_back);
  }
  stats_.partial = walk.partial;
  stats_.folders_listed = walk.listed;
  progress_.folders.store(snapshot_.folder_slots() - snapshot_.garbage_folders(),
                          std::memory_order_relaxed);
  progress_.files.store(snapshot_.size(), std::memory_order_relaxed);
  return outcome;
}

}  // namespace sentrel

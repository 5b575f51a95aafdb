#include "monitor/chkdir.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "config/path_remarks.h"
#include "platform/clock.h"
#include "platform/dir_list.h"
#include "platform/open_files.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

// The check's verdict as it leaves it in Status.
constexpr uint8_t kStatusNothing = 1;
constexpr uint8_t kStatusReport = 2;

}  // namespace

struct CheckDirThread::Walk {
  Snapshot* previous = nullptr;
  Snapshot* next = nullptr;
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
    return std::find(folders.begin(), folders.end(), std::make_pair(device, inode)) !=
           folders.end();
  }
};

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
  std::string root = FileName().Value();
  if (root.empty()) root = CurrentDirectory();
  // The current directory may be "/" itself: no second separator then.
  if (root.empty() || root.back() != '/') root.push_back('/');
  FileName().SetText(root);
  if (notes() != nullptr) NoteRoot();
  NoteFlags(*conditions_, 4);

  masks_.clear();
  exclude_masks_.clear();
  dir_masks_.clear();
  exclude_dir_masks_.clear();
  const std::pair<const StringParam*, MaskList*> lists[] = {
      {mask_, &masks_},
      {exclude_mask_, &exclude_masks_},
      {dir_mask_, &dir_masks_},
      {excl_dir_mask_, &exclude_dir_masks_}};
  for (const auto& [param, list] : lists) {
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
  if (FolderExists(root)) return;
  Note(FileName(), "FileName: folder \"" + root + "\" does not exist" + EnvironmentHint(root) +
                       "; the item finds nothing there until it does");
}

void CheckDirThread::RunLoop() {
  StartNotify();
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

void CheckDirThread::FollowRoot(bool found, uint64_t device, uint64_t inode) {
  std::lock_guard<std::mutex> lock(watcher_mu_);
  if (watcher_) watcher_->Follow(found, device, inode);
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

uint8_t CheckDirThread::Check() {
  baseline_ = TakeRebaseline();
  SetStatus(kStatusNothing);

  Walk walk;
  Snapshot next;
  walk.previous = &snapshot_;
  walk.next = &next;
  walk.condition_type = condition_type_->Value();
  walk.store_data = store_prev_info_->Value() && walk.condition_type == 0;
  if (!baseline_) next.Reserve(snapshot_.size(), walk.store_data);
  if (walk.condition_type == 1) {
    walk.now = services_.clock->RealNow();
    // No overflow: the interval is below 69 years and now is after 1970.
    walk.old_before = walk.now - older_interval_->Value() * kNanosPerSecond;
  }
  if (ignore_opened_->Value()) walk.open_files = OpenFileTable::Read();

  std::string path = FileName().Value();
  DirectoryListing root;
  uint64_t device = 0, inode = 0;
  const bool opened = root.Open(path);
  const bool known = opened && root.Identity(device, inode);
  // Before the walk, so that a change after the listing wakes the item.
  FollowRoot(known, device, inode);
  if (opened) {
    if (known) walk.folders.emplace_back(device, inode);
    PathHasher hasher;
    hasher.Update(path);
    ScanDirectory(walk, root, path, hasher);
  }

  uint8_t outcome = 0;
  if (!WalkStopped()) {
    if (walk.condition_type == 0 && !baseline_) {
      if ((Condition(3) || Condition(4)) && snapshot_.remaining() > 0) {
        SetStatus(kStatusReport);
        if (store_prev_info_->Value()) {
          bool done = false;
          snapshot_.ForEachRemaining([&](size_t i) {
            if (done || i >= snapshot_.data_size()) return;
            FileData gone = std::move(snapshot_.data(i));
            gone.Time = FileTimeToLocalDateTime(snapshot_.entry(i).time);
            gone.State = kStateDeleted;
            ReportedFiles.push_back(std::move(gone));
            done = break_->Value();
          });
        }
      }
      if (inverse_->Value()) {
        SetStatus(Status() == kStatusReport ? kStatusNothing : kStatusReport);
      }
    }
    outcome = Status() == kStatusReport ? 1 : 0;
  }
  next.Trim();
  snapshot_ = std::move(next);
  return outcome;
}

// A recorded entry waiting for its turn. Entries are handled two steps
// after they are listed, so that the previous snapshot's index and entry
// can be fetched from memory while the next entries are being read: when
// the order of the walk differs from the snapshot's, each lookup lands at a
// random place, and waiting for that memory would otherwise cost more than
// reading the entry.
struct PendingEntry {
  std::string name;
  PathId id;
  Instant time = 0;
  int64_t size = 0;
  bool in_use = false;
};

void CheckDirThread::ScanDirectory(Walk& walk, DirectoryListing& dir, std::string& path,
                                   const PathHasher& prefix) {
  if (WalkStopped()) return;
  const size_t base = path.size();
  const bool count_hidden = count_hidden_->Value();
  const bool subdir = subdir_->Value();
  const bool dir_monitoring = dir_monitoring_->Value();

  constexpr size_t kLag = 2;
  PendingEntry ring[kLag + 1];
  size_t head = 0, count = 0;
  auto process_oldest = [&] {
    PendingEntry& p = ring[head];
    path.append(p.name);
    ProcessEntry(walk, path, p.id, p.time, p.size, p.in_use);
    path.resize(base);
    head = (head + 1) % (kLag + 1);
    --count;
  };
  auto process_all = [&] {
    while (count > 0) process_oldest();
  };

  DirEntryInfo e;
  while (dir.Next(e)) {
    if (WalkStopped()) break;
    if (!count_hidden && e.hidden) continue;
    const bool dots = e.name == "." || e.name == "..";
    // A subdirectory's content comes before its own entry.
    if (subdir && e.is_directory && !dots && MatchesAnyMask(dir_masks_, e.name) &&
        !MatchesAnyMask(exclude_dir_masks_, e.name) && walk.folders.size() <= kMaxFolderDepth &&
        !walk.Walking(e.device, e.inode)) {
      DirectoryListing child;
      if (child.OpenChild(dir, e.name)) {
        process_all();
        path.append(e.name);
        path.push_back('/');
        PathHasher hasher = prefix;
        hasher.Update(std::string_view(path).substr(base));
        walk.folders.emplace_back(e.device, e.inode);
        ScanDirectory(walk, child, path, hasher);
        walk.folders.pop_back();
        path.resize(base);
        if (WalkStopped()) break;
      }
    }
    const bool record = e.is_directory ? dir_monitoring && !dots
                                       : MatchesAnyMask(masks_, e.name) &&
                                             !MatchesAnyMask(exclude_masks_, e.name);
    if (!record) continue;

    if (count == kLag) process_oldest();
    if (count > 0) walk.previous->PrefetchEntry(ring[(head + count - 1) % (kLag + 1)].id);
    PendingEntry& p = ring[(head + count) % (kLag + 1)];
    ++count;
    PathHasher hasher = prefix;
    hasher.Update(e.name);
    p.name.assign(e.name);
    p.id = hasher.Finish();
    p.time = InstantOf(e.mtime_seconds, e.mtime_nanoseconds);
    p.size = e.size;
    // Nobody can have a directory open the way the in-use test means, so a
    // directory always counts as in use.
    p.in_use = walk.open_files && (e.is_directory || walk.open_files->Contains(e.device, e.inode));
    walk.previous->PrefetchSlot(p.id);
  }
  process_all();
}

void CheckDirThread::ProcessEntry(Walk& walk, const std::string& path, PathId id, Instant time,
                                  int64_t size, bool in_use) {
  const int type = walk.condition_type;
  SnapshotEntry scratch{id.crc, id.extra, time};
  SnapshotEntry* entry = &scratch;
  // Age detection without "IgnoreAdded" needs no memory of earlier checks.
  if (type == 0 || ignore_added_->Value()) {
    if (walk.store_data) {
      // Its shown time is made when it is reported, in the zone of then.
      walk.next->Append(id, time, FileData(path, 0.0, size, kStateNone));
    } else {
      walk.next->Append(id, time);
    }
    entry = &walk.next->entry(walk.next->size() - 1);
  }

  if (in_use) {
    // Still being written, most likely: it is neither reported nor counted
    // as deleted, and it keeps what the previous check knew of it, so that
    // once released it is reported as added or changed. (Recording the time
    // seen while it is written would lose that report: the last write gives
    // the file its final time before the writer lets go.)
    if (entry != &scratch) KeepPrevious(walk);
    return;
  }
  if (baseline_ && type != 1) return;
  if (break_->Value() && !ReportedFiles.empty()) {
    // Not compared, but found: its previous entry must not pass for a
    // deleted file when the deletions are evaluated.
    if (type == 0 && !WalkStopped()) walk.previous->Take(id);
    return;
  }

  uint8_t state = kStateNone;
  if (type == 0) {
    state = CompareWithSnapshot(walk, *entry);
  } else if (time < walk.old_before) {
    state = kStateOlder;
    if (ignore_added_->Value() && !baseline_) {
      const uint8_t r = CompareWithSnapshot(walk, *entry);
      if (r == kStateAdded) {
        // First seen since the baseline: its age counts from now.
        state = kStateNone;
        entry->time = walk.now;
      } else if (r == kStateChanged && entry->time >= walk.old_before) {
        state = kStateNone;
      }
    }
  }
  if (state != kStateNone) {
    SetStatus(kStatusReport);
    ReportedFiles.emplace_back(path, FileTimeToLocalDateTime(time), size, state);
  }
}

void CheckDirThread::KeepPrevious(Walk& walk) {
  if (WalkStopped()) return;
  Snapshot& next = *walk.next;
  const size_t last = next.size() - 1;
  const ptrdiff_t found = walk.previous->Take(next.entry(last).id());
  if (found < 0) {
    next.PopBack();
    return;
  }
  next.entry(last).time = walk.previous->entry(static_cast<size_t>(found)).time;
  if (walk.store_data && static_cast<size_t>(found) < walk.previous->data_size()) {
    next.data(last) = std::move(walk.previous->data(static_cast<size_t>(found)));
  }
}

uint8_t CheckDirThread::CompareWithSnapshot(Walk& walk, SnapshotEntry& entry) {
  if (WalkStopped()) return kStateNone;
  const bool ages = walk.condition_type == 1;
  const ptrdiff_t found = walk.previous->Take(entry.id());
  if (found < 0) return (Condition(2) || Condition(4) || ages) ? kStateAdded : kStateNone;
  const SnapshotEntry& prev = walk.previous->entry(static_cast<size_t>(found));
  if ((Condition(1) || Condition(4) || ages) && prev.time != entry.time) {
    // In age detection the entry keeps the time it was first seen.
    if (ages) entry.time = prev.time;
    return kStateChanged;
  }
  return kStateNone;
}

}  // namespace sentrel

#include "monitor/chkdir.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "config/path_remarks.h"
#include "monitor/state_file.h"
#include "platform/clock.h"
#include "platform/dir_list.h"
#include "platform/open_files.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

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

}  // namespace

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
    // No overflow: the interval is below 69 years and now is after 1970.
    walk.old_before = walk.now - older_interval_->Value() * kNanosPerSecond;
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
      if ((Condition(3) || Condition(4)) && !snapshot_.empty()) {
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
  stats_.partial = walk.partial;
  stats_.folders_listed = walk.listed;
  return outcome;
}

bool CheckDirThread::PlanPartial(Walk& walk, const TreeChanges& changes) {
  const Snapshot& s = snapshot_;
  const std::string& root = FileName().Value();
  walk.marks.assign(s.folder_slots(), 0);
  auto mark = [&](uint32_t f) {
    walk.marks[f] |= kMarkRelist;
    for (uint32_t p = s.folder(f).parent; p != kNoFolder && !(walk.marks[p] & kMarkBelow);
         p = s.folder(p).parent) {
      walk.marks[p] |= kMarkBelow;
    }
  };
  // The deepest folder of the snapshot on `path`, and how far the path
  // matched it.
  auto deepest = [&](const std::string& path, size_t& matched) {
    uint32_t f = 0;
    matched = root.size();
    while (matched < path.size()) {
      const size_t slash = path.find(kPathSeparator, matched);
      if (slash == std::string::npos) break;
      const uint32_t c =
          walk.PreviousChild(f, std::string_view(path).substr(matched, slash - matched), kNoFolder);
      if (c == kNoFolder) break;
      f = c;
      matched = slash + 1;
    }
    return f;
  };
  auto changed = [&](const std::string& path, bool appeared) {
    if (path.compare(0, root.size(), root) != 0) return false;
    size_t matched = 0;
    const uint32_t f = deepest(path, matched);
    if (matched == path.size() && !appeared) {
      mark(f);
      // A folder entry's time is its folder's: it changes with the names
      // inside, and the parent hears nothing of it.
      if (dir_monitoring_->Value() && s.folder(f).parent != kNoFolder) mark(s.folder(f).parent);
      return true;
    }
    // Not known as it stands now: it is walked whole from the first folder
    // on its way that the snapshot does not hold (or that appeared anew),
    // within its parent listed again.
    const size_t end = path.find(kPathSeparator, matched);
    const uint32_t parent = matched == path.size() ? s.folder(f).parent : f;
    if (parent == kNoFolder) return false;
    walk.whole.insert(matched == path.size() ? path : path.substr(0, end + 1));
    mark(parent);
    return true;
  };
  for (const std::string& folder : changes.folders) {
    if (!changed(folder, false)) return false;
  }
  for (const std::string& folder : changes.appeared) {
    if (!changed(folder, true)) return false;
  }
  for (uint32_t f = 0; f < s.folder_slots(); ++f) {
    const uint32_t flags = s.folder(f).flags;
    if ((flags & Snapshot::kFolderRelist) && !(flags & Snapshot::kFolderGone)) mark(f);
  }
  return true;
}

void CheckDirThread::VisitChanged(Walk& walk, DirectoryListing& dir, std::string& path,
                                  const PathHasher& prefix, uint32_t folder) {
  if (WalkStopped()) return;
  if (walk.marks[folder] & kMarkRelist) {
    FolderOut out;
    out.record = folder;
    out.relisted = true;
    walk.marks[folder] |= kMarkListed;
    ++walk.listed;
    ScanDirectory(walk, dir, path, prefix, out, folder);
    walk.relisted.push_back(std::move(out));
    return;
  }
  // Its own entries are as they were: only folders below it changed.
  const Snapshot& s = *walk.previous;
  const size_t base = path.size();
  for (uint32_t c = s.folder(folder).first_child; c != kNoFolder; c = s.folder(c).next_sibling) {
    if (WalkStopped()) return;
    if (!(walk.marks[c] & (kMarkRelist | kMarkBelow))) continue;
    const std::string name(s.folder_name(c));
    DirectoryListing child;
    if (!child.OpenChild(dir, name)) {
      // Gone, and its parent has not said so yet: the next check walks
      // everything.
      walk.inconsistent = true;
      continue;
    }
    path.append(name);
    path.push_back(kPathSeparator);
    PathHasher hasher = prefix;
    hasher.Update(std::string_view(path).substr(base));
    walk.folders.emplace_back(s.folder(c).device, s.folder(c).inode);
    VisitChanged(walk, child, path, hasher, c);
    walk.folders.pop_back();
    path.resize(base);
  }
}

void CheckDirThread::FinishFolder(Walk& walk, FolderOut& out) {
  if (out.relisted) return;
  walk.next->SetRuns(out.record, out.runs, out.count);
  walk.next->LinkChildren(out.record, out.children);
  walk.next->folder(out.record).flags = out.flags;
}

void CheckDirThread::CommitPartial(Walk& walk) {
  Snapshot& s = snapshot_;
  for (const FolderOut& out : walk.relisted) {
    const uint32_t f = out.record;
    // Its subfolders that are no longer walked leave the tree.
    for (uint32_t c = s.folder(f).first_child; c != kNoFolder; c = s.folder(c).next_sibling) {
      if (!(walk.marks[c] & kMarkKept)) s.DropTree(c);
    }
    const uint32_t old_count = s.folder(f).count;
    s.AddGarbage(old_count);
    s.SetLiveEntries(s.size() - old_count);
    s.SetRuns(f, out.runs, out.count);
    s.LinkChildren(f, out.children);
    s.folder(f).flags = out.flags;
  }
  s.SetLiveEntries(s.size() + walk.appended);
  const size_t live_folders = s.folder_slots() - s.garbage_folders();
  if (s.garbage_entries() > s.size() / 4 + 4096 || s.garbage_folders() > live_folders / 4 + 256) {
    snapshot_ = s.Compacted();
  }
}

template <typename F>
void CheckDirThread::ForEachGone(const Walk& walk, uint32_t folder, bool all, F&& gone) {
  const Snapshot& s = *walk.previous;
  const bool listed = all || (walk.marks[folder] & kMarkListed);
  s.ForEachInWalkOrder(
      folder,
      [&](size_t i, std::string_view name) {
        if (listed && !walk.taken.Has(i)) gone(folder, i, name);
      },
      [&](uint32_t c) {
        if (all || (listed && !(walk.marks[c] & kMarkKept))) {
          ForEachGone(walk, c, true, gone);
        } else if (walk.marks[c] & (kMarkListed | kMarkBelow)) {
          ForEachGone(walk, c, false, gone);
        }
      });
}

void CheckDirThread::ScanDirectory(Walk& walk, DirectoryListing& dir, std::string& path,
                                   const PathHasher& prefix, FolderOut& out, uint32_t previous) {
  Snapshot& next = *walk.next;
  out.current = SnapshotRun{next.entry_slots(), next.names_end(), 0, 0};
  if (WalkStopped()) {
    out.runs.push_back(out.current);
    return;
  }
  const size_t base = path.size();
  FolderMatch match(walk.previous, &walk.taken, previous);
  // The walk normally meets subfolders in the order it recorded them.
  uint32_t hint = previous == kNoFolder ? kNoFolder : walk.previous->folder(previous).first_child;

  DirEntryInfo e;
  while (dir.Next(e)) {
    if (WalkStopped()) break;
    if (rules_.Seen(e) != Selection::kTaken) continue;
    bool walked = false;
    // A subdirectory's content comes before its own entry.
    if (e.is_directory && rules_.Descends(e, walk.folders.size()) == Selection::kTaken &&
        !walk.Walking(e.device, e.inode)) {
      const uint32_t before = walk.PreviousChild(previous, e.name, hint);
      if (before != kNoFolder) hint = walk.previous->folder(before).next_sibling;
      path.append(e.name);
      path.push_back(kPathSeparator);
      PathHasher hasher = prefix;
      hasher.Update(std::string_view(path).substr(base));
      const bool kept = out.relisted && before != kNoFolder &&
                        walk.previous->folder(before).device == e.device &&
                        walk.previous->folder(before).inode == e.inode && !walk.whole.count(path);
      const bool below = kept && (walk.marks[before] & (kMarkRelist | kMarkBelow));
      DirectoryListing child;
      if (kept && !below) {
        // As it was: nothing in it or below it changed.
        walked = true;
      } else if (kept) {
        walked = child.OpenChild(dir, e.name);
        if (walked) {
          out.runs.push_back(out.current);
          walk.folders.emplace_back(e.device, e.inode);
          VisitChanged(walk, child, path, hasher, before);
          walk.folders.pop_back();
        }
      } else {
        walked = child.OpenChild(dir, e.name);
        if (walked) {
          // Before it is listed: a change after the listing is heard of.
          WatchFolder(walk, path, child);
          out.runs.push_back(out.current);
          FolderOut sub;
          sub.record = next.AddFolder(out.record, e.name, e.device, e.inode);
          out.children.push_back(sub.record);
          walk.folders.emplace_back(e.device, e.inode);
          ++walk.listed;
          ScanDirectory(walk, child, path, hasher, sub, before);
          FinishFolder(walk, sub);
          walk.folders.pop_back();
          out.current = SnapshotRun{next.entry_slots(), next.names_end(), 0, 0};
        }
      }
      if (walked && kept) {
        if (!below) out.runs.push_back(out.current);
        walk.marks[before] |= kMarkKept;
        out.children.push_back(before);
        out.current = SnapshotRun{next.entry_slots(), next.names_end(), 0, 0};
      }
      path.resize(base);
      if (WalkStopped()) break;
    }
    if (rules_.Records(e) != Selection::kTaken) continue;
    // A folder entry whose folder is not walked: its time changes with the
    // names inside, which nobody watches.
    if (e.is_directory && !walked) out.flags |= Snapshot::kFolderRelist;

    PathHasher hasher = prefix;
    hasher.Update(e.name);
    // Nobody can have a directory open the way the in-use test means, so a
    // directory always counts as in use.
    const bool in_use =
        walk.open_files && (e.is_directory || walk.open_files->InUse(path, e.name, e.device, e.inode));
    path.append(e.name);
    ProcessEntry(walk, out, match, path, e.name, hasher.Finish(),
                 InstantOf(e.mtime_seconds, e.mtime_nanoseconds), e.size, in_use);
    path.resize(base);
  }
  out.runs.push_back(out.current);
}

void CheckDirThread::ProcessEntry(Walk& walk, FolderOut& out, FolderMatch& match,
                                  const std::string& path, std::string_view name, PathId id,
                                  Instant time, int64_t size, bool in_use) {
  const int type = walk.condition_type;
  SnapshotEntry scratch{id.crc, id.extra, time};
  SnapshotEntry* entry = &scratch;
  // Age detection without "IgnoreAdded" needs no memory of earlier checks.
  if (type == 0 || ignore_added_->Value()) {
    Snapshot& next = *walk.next;
    if (walk.store_data) {
      // Its shown time is made when it is reported, in the zone of then.
      next.AppendEntry(scratch, size, name);
    } else {
      next.AppendEntry(scratch);
    }
    ++out.current.count;
    ++out.count;
    ++walk.appended;
    entry = &next.entry(next.entry_slots() - 1);
  }

  if (in_use) {
    // Still being written, most likely: it is neither reported nor counted
    // as deleted, and it keeps what the previous check knew of it, so that
    // once released it is reported as added or changed. (Recording the time
    // seen while it is written would lose that report: the last write gives
    // the file its final time before the writer lets go.) Its release makes
    // no change anybody announces, so its folder is looked at every time.
    out.flags |= Snapshot::kFolderRelist;
    if (entry != &scratch) KeepPrevious(walk, out, match);
    return;
  }
  if (baseline_ && type != 1) return;
  if (break_->Value() && !ReportedFiles.empty()) {
    // Not compared, but found: its previous entry must not pass for a
    // deleted file when the deletions are evaluated.
    if (type == 0 && !WalkStopped()) match.Take(id);
    return;
  }

  uint8_t state = kStateNone;
  if (type == 0) {
    state = CompareWithSnapshot(walk, match, *entry);
  } else if (time < walk.old_before) {
    state = kStateOlder;
    if (ignore_added_->Value() && !baseline_) {
      const uint8_t r = CompareWithSnapshot(walk, match, *entry);
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

void CheckDirThread::KeepPrevious(Walk& walk, FolderOut& out, FolderMatch& match) {
  if (WalkStopped()) return;
  Snapshot& next = *walk.next;
  const size_t last = next.entry_slots() - 1;
  const ptrdiff_t found = match.Take(next.entry(last).id());
  if (found < 0) {
    next.PopEntry();
    --out.current.count;
    --out.count;
    --walk.appended;
    return;
  }
  const size_t prev = static_cast<size_t>(found);
  next.entry(last).time = walk.previous->entry(prev).time;
  if (walk.store_data) next.set_record_size(last, walk.previous->record_size(prev));
}

uint8_t CheckDirThread::CompareWithSnapshot(Walk& walk, FolderMatch& match, SnapshotEntry& entry) {
  if (WalkStopped()) return kStateNone;
  const bool ages = walk.condition_type == 1;
  const ptrdiff_t found = match.Take(entry.id());
  if (found < 0) {
    walk.changed = true;
    return (Condition(2) || Condition(4) || ages) ? kStateAdded : kStateNone;
  }
  const SnapshotEntry& prev = walk.previous->entry(static_cast<size_t>(found));
  if (prev.time != entry.time) walk.changed = true;
  if ((Condition(1) || Condition(4) || ages) && prev.time != entry.time) {
    // In age detection the entry keeps the time it was first seen.
    if (ages) entry.time = prev.time;
    return kStateChanged;
  }
  return kStateNone;
}

std::string CheckDirThread::StateSettings() const {
  // What the snapshot holds, and how its entries were chosen and recorded;
  // the rest (conditions, Inverse, Break, actions) only decides what is
  // done with a comparison, and may change between runs.
  std::string text = BaseMonitoring::StateSettings();
  for (const StringParam* p : {mask_, exclude_mask_, dir_mask_, excl_dir_mask_}) {
    text += p->Name() + "=" + p->Value() + "\n";
  }
  for (const BoolParam* p : {subdir_, dir_monitoring_, count_hidden_, store_prev_info_,
                             ignore_added_}) {
    text += p->Name() + "=" + (p->Value() ? "1" : "0") + "\n";
  }
  text += condition_type_->Name() + "=" + std::to_string(condition_type_->Value()) + "\n";
  return text;
}

void CheckDirThread::WriteState(StateWriter& out) const {
  out.PutValue(hash_seed_);
  snapshot_.Save(out);
}

bool CheckDirThread::ReadState(StateReader& in, std::string& why) {
  uint64_t seed = 0;
  Snapshot loaded;
  if (!in.GetValue(seed) || !loaded.Load(in)) {
    // A damaged file usually says so by its checksum.
    if (in.Skip(why)) why = "is damaged (its content does not hold together)";
    return false;
  }
  if (!in.Finish(why)) return false;
  if (loaded.has_records() != (store_prev_info_->Value() && condition_type_->Value() == 0)) {
    why = "is damaged (its content does not hold together)";
    return false;
  }
  hash_seed_ = seed;
  snapshot_ = std::move(loaded);
  return true;
}

}  // namespace sentrel

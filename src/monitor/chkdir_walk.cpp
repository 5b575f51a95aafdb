#include <string>

#include "monitor/chkdir_walk.h"
#include "platform/clock.h"
#include "platform/dir_list.h"
#include "platform/paths.h"

// The walk of one folder and the comparison of what it finds with the
// previous snapshot.

namespace sentrel {

using namespace chkdir_internal;

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

  // What the first walk has seen, for the progress line: told once per
  // folder, not per entry.
  uint64_t files_seen = 0;
  struct TellSeen {
    Progress& progress;
    const uint64_t& files;
    ~TellSeen() {
      if (progress.first_check_done.load(std::memory_order_relaxed)) return;
      progress.folders.fetch_add(1, std::memory_order_relaxed);
      progress.files.fetch_add(files, std::memory_order_relaxed);
    }
  } tell_seen{progress_, files_seen};

  DirEntryInfo e;
  while (dir.Next(e)) {
    if (WalkStopped()) break;
    if (!e.is_directory) ++files_seen;
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
          sub.fresh = out.fresh ||
                      (walk.hold_new && (before == kNoFolder ||
                                         walk.previous->folder(before).device != e.device ||
                                         walk.previous->folder(before).inode != e.inode));
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
    bool in_use =
        walk.open_files && (e.is_directory || walk.open_files->InUse(path, e.name, e.device, e.inode));
    path.append(e.name);
    if (out.fresh && !e.is_directory) {
      in_use = true;
      walk.held_back.push_back(path);
    }
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
    return (Counts(kStateAdded) || ages) ? kStateAdded : kStateNone;
  }
  const SnapshotEntry& prev = walk.previous->entry(static_cast<size_t>(found));
  if (prev.time != entry.time) walk.changed = true;
  if ((Counts(kStateChanged) || ages) && prev.time != entry.time) {
    // In age detection the entry keeps the time it was first seen.
    if (ages) entry.time = prev.time;
    return kStateChanged;
  }
  return kStateNone;
}

}  // namespace sentrel

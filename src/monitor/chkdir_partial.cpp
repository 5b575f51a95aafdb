#include <string>

#include "monitor/chkdir_walk.h"
#include "platform/dir_list.h"
#include "platform/paths.h"

// The partial real-time check: from what the watch told, which folders of
// the previous snapshot to list again, the way down to them, and how their
// new records take the place of the old ones.

namespace sentrel {

using namespace chkdir_internal;

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
  // The last folder listed has its new records at the end of the arrays;
  // once they went back into its old places, the one before it has too.
  bool at_end = true;
  for (auto it = walk.relisted.rbegin(); it != walk.relisted.rend(); ++it) {
    const FolderOut& out = *it;
    const uint32_t f = out.record;
    const uint32_t old_count = s.folder(f).count;
    s.SetLiveEntries(s.size() - old_count);
    if (at_end && s.ReplaceInPlace(f, out.runs, out.children)) {
      s.folder(f).flags = out.flags;
      continue;
    }
    at_end = false;
    // Its subfolders that are no longer walked leave the tree.
    for (uint32_t c = s.folder(f).first_child; c != kNoFolder; c = s.folder(c).next_sibling) {
      if (!(walk.marks[c] & kMarkKept)) s.DropTree(c);
    }
    s.AddGarbage(old_count);
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

}  // namespace sentrel

#include "monitor/chnotify.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/dir_list.h"

namespace sentrel {
namespace {

// Beyond this many changed folders a walk of the whole tree costs about as
// much as looking at each, and the memory of the list stays bounded.
constexpr size_t kMaxChangedFolders = 10000;
constexpr size_t kMaxOpenWrites = 1000;

std::string ParentOf(const std::string& folder) {
  const size_t cut = folder.find_last_of('/', folder.size() >= 2 ? folder.size() - 2 : 0);
  return cut == std::string::npos ? folder : folder.substr(0, cut + 1);
}

}  // namespace

ChangeNotifyThread::ChangeNotifyThread(Settings settings, std::function<void()> wake)
    : service_(DirWatchService::Shared()), settings_(std::move(settings)), wake_(std::move(wake)) {}

ChangeNotifyThread::~ChangeNotifyThread() { Stop(); }

bool ChangeNotifyThread::Open() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (open_) return root_watch_ >= 0;
  open_ = true;
  service_.Register(this);
  WatchRoot();
  return root_watch_ >= 0;
}

void ChangeNotifyThread::Stop() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return;
  open_ = false;
  service_.Unregister(this);
  paths_.clear();
  root_watch_ = -1;
}

void ChangeNotifyThread::WatchRoot() {
  const int wd = service_.AddWatch(this, settings_.root, true);
  if (wd < 0) return;
  paths_[wd] = settings_.root;
  root_watch_ = wd;
  DirectoryListing self;
  root_known_ = self.Open(settings_.root, true) && self.Identity(root_device_, root_inode_);
}

bool ChangeNotifyThread::Follow(bool found, uint64_t device, uint64_t inode) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return false;
  if (root_watch_ >= 0 && found &&
      (!root_known_ || (device == root_device_ && inode == root_inode_))) {
    return true;
  }
  if (!found && root_watch_ < 0 && paths_.empty()) return false;
  // The watches follow the old folder wherever it went; they are let go,
  // and what was known of the tree with them.
  ForgetTree(settings_.root);
  root_watch_ = -1;
  Lose();
  if (!found) return false;
  WatchRoot();
  return root_watch_ >= 0;
}

bool ChangeNotifyThread::WatchFolder(const std::string& path, const DirectoryListing& listing) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_ || root_watch_ < 0) return false;
  const int wd = service_.AddWatch(this, path, listing);
  if (wd < 0) return false;
  // A folder has one watch, whatever it is called: the walk names it by the
  // path it reached it through, which is the one that counts now.
  paths_[wd] = path;
  return true;
}

TreeChanges ChangeNotifyThread::TakeChanges() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  TreeChanges out;
  std::swap(out, changes_);
  changes_.lost = !open_ || root_watch_ < 0;
  return out;
}

size_t ChangeNotifyThread::WatchCount() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return paths_.size();
}

bool ChangeNotifyThread::HeardOfForTesting(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return changes_.lost || changes_.folders.count(folder) != 0;
}

void ChangeNotifyThread::ForgetTree(const std::string& path) {
  std::vector<int> gone;
  for (const auto& [wd, p] : paths_) {
    if (p.compare(0, path.size(), path) == 0) gone.push_back(wd);
  }
  for (int wd : gone) {
    service_.RemoveWatch(this, wd);
    paths_.erase(wd);
  }
}

void ChangeNotifyThread::Lose() {
  changes_.lost = true;
  changes_.folders.clear();
  changes_.appeared.clear();
}

void ChangeNotifyThread::Changed(const std::string& folder) {
  if (changes_.lost) return;
  changes_.folders.insert(folder);
  if (changes_.folders.size() + changes_.appeared.size() > kMaxChangedFolders) Lose();
}

void ChangeNotifyThread::OnDirEvent(const DirWatchEvent& ev) {
  if (!open_) return;
  auto it = paths_.find(ev.watch);
  if (it == paths_.end()) return;
  const std::string folder = it->second;

  if (ev.flags & kWatchGone) {
    // The service has let the watch go already, or will when it hears the
    // kernel did; either way it is no longer ours.
    service_.RemoveWatch(this, ev.watch);
    paths_.erase(it);
    if (ev.watch == root_watch_) {
      root_watch_ = -1;
      Lose();
    } else {
      // Its parent hears of it as well, unless it went in a way nobody
      // announces (a file system unmounted under it).
      Changed(ParentOf(folder));
    }
    Wake(false);
    return;
  }

  const bool is_dir = (ev.flags & kWatchIsDirectory) != 0;
  const bool named = (ev.flags & kWatchNameChange) != 0;
  if (is_dir && !ev.name.empty() && named && settings_.subtree) {
    const std::string child = folder + std::string(ev.name) + "/";
    // Its old watches, if any, stay with it wherever it went; what stands
    // under the name now is walked whole.
    ForgetTree(child);
    if ((ev.flags & kWatchEntryAppeared) && !changes_.lost) changes_.appeared.insert(child);
  }
  // With a subtree, a directory moved in or out brings or takes files
  // along that no other event announces.
  const bool counts = !is_dir || settings_.dir_names || (settings_.subtree && named);
  if (!counts) return;
  Changed(folder);

  const bool may_go_on = (ev.flags & kWatchMayGoOn) != 0;
  if (!is_dir && !ev.name.empty()) {
    std::string key = folder;
    key.append(ev.name);
    if (may_go_on) {
      if (open_writes_.size() < kMaxOpenWrites) {
        open_writes_.insert(std::move(key));
      } else {
        open_writes_overflowed_ = true;
      }
    } else if ((ev.flags & kWatchWriteEnded) || (named && !(ev.flags & kWatchEntryAppeared))) {
      open_writes_.erase(key);
    }
  }
  Wake(may_go_on);
}

void ChangeNotifyThread::OnDirOverflow() {
  if (!open_) return;
  // Folders made while news was lost have no watch yet: the next walk,
  // which is a whole one now, watches them.
  Lose();
  Wake(false);
}

void ChangeNotifyThread::OnDirTimer() {
  if (!open_ || !wake_pending_) return;
  const int64_t now = DirWatchService::NowMs();
  const bool settled = Settled();
  const int64_t quiet_at = last_change_ms_ + (settled ? settings_.quiet_ms : settings_.settle_ms);
  const int64_t latest =
      pending_since_ms_ + (settled ? settings_.max_delay_ms : settings_.max_settle_ms);
  if (now >= quiet_at || now >= latest) {
    Fire(now);
  } else {
    service_.SetTimer(this, static_cast<int>(std::min(quiet_at, latest) - now));
  }
}

void ChangeNotifyThread::Wake(bool may_go_on) {
  const int64_t now = DirWatchService::NowMs();
  if (!wake_pending_) {
    wake_pending_ = true;
    pending_since_ms_ = now;
    burst_calm_ = now - last_change_ms_ >= settings_.calm_ms;
  }
  last_change_ms_ = now;
  // A change that is complete, after a calm, with no file still being
  // written: the check can come at once.
  if (!may_go_on && burst_calm_ && Settled()) {
    Fire(now);
    return;
  }
  service_.SetTimer(this, Settled() ? settings_.quiet_ms : settings_.settle_ms);
}

void ChangeNotifyThread::Fire(int64_t) {
  wake_pending_ = false;
  // A writer that never closes (a log held open) is not waited for again.
  open_writes_.clear();
  open_writes_overflowed_ = false;
  wake_();
}

}  // namespace sentrel

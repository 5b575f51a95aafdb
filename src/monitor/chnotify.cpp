#include "monitor/chnotify.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/dir_list.h"

namespace sentrel {
namespace {

// Whether two paths lead to the same folder now.
bool SameFolder(const std::string& a, const std::string& b) {
  DirectoryListing da, db;
  uint64_t dev_a = 0, ino_a = 0, dev_b = 0, ino_b = 0;
  return da.Open(a, false) && db.Open(b, false) && da.Identity(dev_a, ino_a) &&
         db.Identity(dev_b, ino_b) && dev_a == dev_b && ino_a == ino_b;
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
  WatchTree(settings_.root, true);
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

bool ChangeNotifyThread::Follow(bool found, uint64_t device, uint64_t inode) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return false;
  if (root_watch_ >= 0 && found &&
      (!root_known_ || (device == root_device_ && inode == root_inode_))) {
    return true;
  }
  if (!found && root_watch_ < 0 && paths_.empty()) return false;
  // The watches follow the old folder wherever it went; they are let go.
  ForgetTree(settings_.root);
  root_watch_ = -1;
  if (!found) return false;
  WatchTree(settings_.root, true);
  return root_watch_ >= 0;
}

size_t ChangeNotifyThread::WatchCount() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return paths_.size();
}

// The watch is added before the directory is listed, so that a subdirectory
// created during the listing is caught by one or the other.
void ChangeNotifyThread::WatchTree(const std::string& path, bool is_root) {
  std::vector<int> above;
  WatchTree(path, is_root, above);
}

void ChangeNotifyThread::WatchTree(const std::string& path, bool is_root, std::vector<int>& above) {
  const int wd = service_.AddWatch(this, path, is_root);
  if (wd < 0) return;
  // A folder has one watch, whatever it is called: the watch of a folder
  // being listed further up means this is that folder mounted again inside
  // itself, and it was listed already.
  if (std::find(above.begin(), above.end(), wd) != above.end()) return;
  // Already watched under another name that still leads to it: the new
  // name passed through a link (a parent replaced after the news left).
  // The folder keeps its own name, or going with the link's would take
  // its watch along. A name that no longer leads to it (moved while
  // events were lost) gives way.
  auto known = paths_.find(wd);
  if (known != paths_.end() && known->second != path && SameFolder(known->second, path)) return;
  paths_[wd] = path;
  if (is_root) {
    root_watch_ = wd;
    DirectoryListing self;
    root_known_ = self.Open(path, true) && self.Identity(root_device_, root_inode_);
  }
  if (!settings_.subtree) return;
  if (!is_root && path.size() > settings_.root.size() &&
      static_cast<size_t>(std::count(path.begin() + static_cast<ptrdiff_t>(settings_.root.size()),
                                     path.end(), '/')) >= kMaxFolderDepth) {
    return;  // as deep as the walk goes
  }

  DirectoryListing dir;
  if (!dir.Open(path, is_root)) return;
  std::vector<std::string> subdirs;
  DirEntryInfo e;
  while (dir.Next(e)) {
    if (e.is_directory && e.name != "." && e.name != "..") subdirs.emplace_back(e.name);
  }
  above.push_back(wd);
  for (const std::string& name : subdirs) WatchTree(path + name + "/", false, above);
  above.pop_back();
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

void ChangeNotifyThread::OnDirEvent(const DirWatchEvent& ev) {
  if (!open_) return;
  auto it = paths_.find(ev.watch);
  if (it == paths_.end()) return;

  if (ev.flags & kWatchGone) {
    const bool root = ev.watch == root_watch_;
    if (root) root_watch_ = -1;
    // The service has let the watch go already, or will when it hears the
    // kernel did; either way it is no longer ours.
    service_.RemoveWatch(this, ev.watch);
    paths_.erase(it);
    if (root) Wake();
    return;
  }

  const bool is_dir = (ev.flags & kWatchIsDirectory) != 0;
  if (is_dir && !ev.name.empty() && (ev.flags & kWatchNameChange) && settings_.subtree) {
    const std::string child = it->second + std::string(ev.name) + "/";
    if (ev.flags & kWatchEntryAppeared) {
      WatchTree(child, false);
    } else {
      ForgetTree(child);
    }
  }
  // With a subtree, a directory moved in or out brings or takes files
  // along that no other event announces.
  const bool carries_files = settings_.subtree && (ev.flags & kWatchNameChange);
  if (!is_dir || settings_.dir_names || carries_files) Wake();
}

void ChangeNotifyThread::OnDirOverflow() {
  if (!open_) return;
  // Subdirectories created while events were lost have no watch yet.
  if (settings_.subtree && root_watch_ >= 0) WatchTree(settings_.root, true);
  Wake();
}

void ChangeNotifyThread::OnDirTimer() {
  if (!open_ || !wake_pending_) return;
  const int64_t now = DirWatchService::NowMs();
  const int64_t quiet_at = last_change_ms_ + settings_.quiet_ms;
  const int64_t latest = pending_since_ms_ + settings_.max_delay_ms;
  if (now >= quiet_at || now >= latest) {
    Fire(now);
  } else {
    service_.SetTimer(this, static_cast<int>(std::min(quiet_at, latest) - now));
  }
}

void ChangeNotifyThread::Wake() {
  const int64_t now = DirWatchService::NowMs();
  const bool calm = now - last_change_ms_ >= settings_.calm_ms;
  last_change_ms_ = now;
  if (wake_pending_) return;  // the timer decides
  if (calm) {
    Fire(now);
    return;
  }
  wake_pending_ = true;
  pending_since_ms_ = now;
  service_.SetTimer(this, settings_.quiet_ms);
}

void ChangeNotifyThread::Fire(int64_t now) {
  wake_pending_ = false;
  last_wake_ms_ = now;
  wake_();
}

}  // namespace sentrel

#include "monitor/chnotify.h"

#include <algorithm>
#include <mutex>

#include "platform/dir_list.h"

namespace sentrel {
namespace {

// More changed folders than this are no help to a check: it may as well
// look everywhere.
constexpr size_t kMaxChangedFolders = 4096;

}  // namespace

ChangeNotifyThread::ChangeNotifyThread(Settings settings, std::function<void()> wake)
    : service_(DirWatchService::Shared()), settings_(std::move(settings)), wake_(std::move(wake)) {}

ChangeNotifyThread::~ChangeNotifyThread() { Stop(); }

bool ChangeNotifyThread::Open() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (open_) return service_.Watching(this);
  open_ = true;
  service_.Register(this);
  return WatchRoot();
}

void ChangeNotifyThread::Stop() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return;
  open_ = false;
  service_.Unregister(this);
}

bool ChangeNotifyThread::WatchRoot() {
  TreeWatchOptions options;
  options.subtree = settings_.subtree;
  options.dir_names = settings_.dir_names;
  options.max_depth = kMaxFolderDepth;
  if (!service_.Watch(this, settings_.root, options)) return false;
  DirectoryListing self;
  root_known_ = self.Open(settings_.root, true) && self.Identity(root_device_, root_inode_);
  return true;
}

bool ChangeNotifyThread::Follow(bool found, uint64_t device, uint64_t inode) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return false;
  const bool watching = service_.Watching(this);
  if (watching && found && (!root_known_ || (device == root_device_ && inode == root_inode_))) {
    return true;
  }
  if (!found && !watching && service_.WatchCount(this) == 0) return false;
  // The watches follow the old folder wherever it went; they are let go.
  service_.Unwatch(this);
  if (!found) return false;
  return WatchRoot();
}

size_t ChangeNotifyThread::WatchCount() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return open_ ? service_.WatchCount(this) : 0;
}

ChangeNotifyThread::Changes ChangeNotifyThread::TakeChanges() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  Changes out;
  out.everything = everything_;
  if (!everything_) out.folders.assign(folders_.begin(), folders_.end());
  everything_ = false;
  folders_.clear();
  return out;
}

void ChangeNotifyThread::OnTreeChange(const TreeChange& change) {
  if (!open_) return;
  if (change.kind != TreeChange::Kind::kEntry || folders_.size() >= kMaxChangedFolders) {
    everything_ = true;
    folders_.clear();
  } else if (!everything_) {
    folders_.emplace(change.folder);
  }
  Wake();
}

void ChangeNotifyThread::OnTreeTimer() {
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

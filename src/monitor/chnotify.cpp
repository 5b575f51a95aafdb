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

}  // namespace

ChangeNotifyThread::ChangeNotifyThread(Settings settings, std::function<void()> wake)
    : service_(DirWatchService::Shared()), settings_(std::move(settings)), wake_(std::move(wake)) {}

ChangeNotifyThread::~ChangeNotifyThread() { Stop(); }

bool ChangeNotifyThread::Open() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (open_) return watching_;
  open_ = true;
  service_.Register(this);
  WatchRoot();
  return watching_;
}

void ChangeNotifyThread::Stop() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return;
  open_ = false;
  service_.Unregister(this);
  watching_ = false;
}

void ChangeNotifyThread::WatchRoot() {
  TreeWatchOptions options;
  options.subtree = settings_.subtree;
  options.dir_names = settings_.dir_names;
  options.max_depth = kMaxFolderDepth;
  options.client_lists_folders = true;
  watching_ = service_.Watch(this, settings_.root, options);
  if (!watching_) return;
  DirectoryListing self;
  root_known_ = self.Open(settings_.root, true) && self.Identity(root_device_, root_inode_);
}

bool ChangeNotifyThread::Follow(bool found, uint64_t device, uint64_t inode) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return false;
  if (watching_ && found && (!root_known_ || (device == root_device_ && inode == root_inode_))) {
    return true;
  }
  if (!found && !watching_ && service_.WatchCount(this) == 0) return false;
  // The watches follow the old folder wherever it went; they are let go,
  // and what was known of the tree with them.
  service_.Unwatch(this);
  watching_ = false;
  Lose();
  if (!found) return false;
  WatchRoot();
  return watching_;
}

bool ChangeNotifyThread::WatchFolder(const std::string& path, const DirectoryListing& listing) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_ || !watching_) return false;
  return service_.OfferFolder(this, path, listing);
}

TreeChanges ChangeNotifyThread::TakeChanges() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  TreeChanges out;
  std::swap(out, changes_);
  changes_.lost = !open_ || !watching_;
  return out;
}

void ChangeNotifyThread::HoldBack(const std::vector<std::string>& files) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_ || files.empty()) return;
  for (const std::string& file : files) {
    if (open_writes_.size() < kMaxOpenWrites) {
      open_writes_.insert(file);
    } else {
      open_writes_overflowed_ = true;
    }
  }
  Wake(true);
}

size_t ChangeNotifyThread::WatchCount() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return open_ ? service_.WatchCount(this) : 0;
}

bool ChangeNotifyThread::HeardOfForTesting(const std::string& folder) {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  return changes_.lost || changes_.folders.count(folder) != 0;
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

void ChangeNotifyThread::OnTreeChange(const TreeChange& change) {
  if (!open_) return;
  if (change.kind != TreeChange::Kind::kEntry) {
    // News was lost, or the root went (and its watch with it). Folders made
    // meanwhile are named to the watch by the next walk, a whole one now.
    if (change.kind == TreeChange::Kind::kRootGone) watching_ = false;
    Lose();
    Wake(false);
    return;
  }
  const std::string folder(change.folder);
  if (change.is_dir && !change.name.empty() && change.named && settings_.subtree &&
      change.appeared && !changes_.lost) {
    // What it holds was never announced: it is walked whole.
    std::string child = folder;
    child.append(change.name);
    child.push_back(folder.back());
    changes_.appeared.insert(std::move(child));
  }
  // With a subtree, a directory moved in or out brings or takes files
  // along that no other event announces.
  const bool counts =
      !change.is_dir || settings_.dir_names || (settings_.subtree && change.named);
  if (!counts) return;
  Changed(folder);

  if (!change.is_dir && !change.name.empty()) {
    std::string key = folder;
    key.append(change.name);
    if (change.may_go_on) {
      if (open_writes_.size() < kMaxOpenWrites) {
        open_writes_.insert(std::move(key));
      } else {
        open_writes_overflowed_ = true;
      }
    } else if (change.write_ended || (change.named && !change.appeared)) {
      open_writes_.erase(key);
    }
  }
  Wake(change.may_go_on);
}

void ChangeNotifyThread::OnTreeTimer() {
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

#include "entry/config_watch.h"

#include <mutex>

#include "platform/paths.h"

namespace sentrel {

ConfigWatch::ConfigWatch(const std::string& path, std::function<void()> saved)
    : service_(DirWatchService::Shared()), saved_(std::move(saved)) {
  const std::string full = IsAbsolutePath(path) ? path : CurrentDirectory() + kPathSeparator + path;
  const size_t cut = FindLastSeparator(full);
  folder_ = full.substr(0, cut + 1);
  name_ = full.substr(cut + 1);
}

ConfigWatch::~ConfigWatch() { Stop(); }

bool ConfigWatch::Open() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (open_) return true;
  open_ = true;
  service_.Register(this);
  // Names of folders beside it do not count; its own writes and name do.
  return service_.Watch(this, folder_, TreeWatchOptions());
}

void ConfigWatch::Stop() {
  std::lock_guard<std::recursive_mutex> lock(service_.mutex());
  if (!open_) return;
  open_ = false;
  service_.Unregister(this);
}

void ConfigWatch::OnTreeChange(const TreeChange& change) {
  // A folder that went has taken its watch along; a file put back there is
  // not heard of, and the running configuration simply stays.
  if (!open_ || change.kind == TreeChange::Kind::kRootGone) return;
  if (change.kind == TreeChange::Kind::kEntry) {
    if (change.name != name_ || change.is_dir) return;
    // Deleted or moved away: the file that takes its place is news.
    if (change.named && !change.appeared) return;
  }
  // A lost watch may have missed a save: the file is read again to be sure.
  pending_ = true;
  const bool complete = change.kind != TreeChange::Kind::kEntry || change.write_ended ||
                        (change.named && !change.may_go_on);
  service_.SetTimer(this, complete ? kGatherMs : kSettleMs);
}

void ConfigWatch::OnTreeTimer() {
  if (!open_ || !pending_) return;
  pending_ = false;
  saved_();
}

}  // namespace sentrel

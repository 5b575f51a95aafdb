#include "platform/watch_timers.h"

#include <algorithm>

namespace sentrel {

int64_t WatchTimers::WaitMs(int64_t now_ms) const {
  if (due_.empty()) return -1;
  int64_t first = due_.begin()->second;
  for (const auto& [client, due] : due_) first = std::min(first, due);
  return std::clamp<int64_t>(first - now_ms, 0, 60000);
}

std::vector<TreeWatchClient*> WatchTimers::TakeDue(int64_t now_ms) {
  std::vector<TreeWatchClient*> due;
  for (auto it = due_.begin(); it != due_.end();) {
    if (it->second <= now_ms) {
      due.push_back(it->first);
      it = due_.erase(it);
    } else {
      ++it;
    }
  }
  return due;
}

}  // namespace sentrel

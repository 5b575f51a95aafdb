#ifndef SENTREL_PLATFORM_WATCH_TIMERS_H_
#define SENTREL_PLATFORM_WATCH_TIMERS_H_

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace sentrel {

class TreeWatchClient;

// When each client of a watch service asked to be called back. The service's
// reader thread waits for system news at most until the first is due, so the
// callbacks need no thread of their own. Not locked: the service holds its
// lock around every call.
class WatchTimers {
 public:
  void Set(TreeWatchClient* client, int64_t due_ms) { due_[client] = due_ms; }
  void Cancel(TreeWatchClient* client) { due_.erase(client); }
  // How long the reader may wait at `now_ms`: 0 when one is due, at most a
  // minute, -1 when none is set.
  int64_t WaitMs(int64_t now_ms) const;
  // Takes out the clients whose time has come at `now_ms`.
  std::vector<TreeWatchClient*> TakeDue(int64_t now_ms);

 private:
  std::unordered_map<TreeWatchClient*, int64_t> due_;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_WATCH_TIMERS_H_

#include "platform/process_requests.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/console_input.h"

namespace sentrel {
namespace {

using Clock = std::chrono::steady_clock;

struct ExitDeadline {
  std::mutex mu;
  std::condition_variable changed;
  bool armed = false;
  bool watching = false;
  Clock::time_point when;
  int code = 0;
};

// Never destroyed: the watcher may still wait on it while the process ends.
ExitDeadline& Deadline() {
  static ExitDeadline* d = new ExitDeadline;
  return *d;
}

void WatchDeadline(ExitDeadline& d) {
  std::unique_lock<std::mutex> lock(d.mu);
  for (;;) {
    if (!d.armed) {
      d.changed.wait(lock);
    } else if (d.changed.wait_until(lock, d.when) == std::cv_status::timeout && d.armed &&
               Clock::now() >= d.when) {
      const int code = d.code;
      lock.unlock();
      ExitProcessNow(code);
    }
  }
}

std::atomic<int> g_forced_stop_code{0};

}  // namespace

void SetForcedStopExitCode(int code) { g_forced_stop_code = code; }
int ForcedStopExitCode() { return g_forced_stop_code.load(); }

void EndProcessWithin(int ms, int code) {
  ExitDeadline& d = Deadline();
  bool start = false;
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.when = Clock::now() + std::chrono::milliseconds(ms);
    d.code = code;
    d.armed = true;
    start = !d.watching;
    d.watching = true;
  }
  d.changed.notify_all();
  if (!start) return;
  try {
    std::thread([&d] { WatchDeadline(d); }).detach();
  } catch (const std::system_error&) {
    // No thread to watch the clock: the orderly stop is all there is.
  }
}

void StopTaken() {
  ExitDeadline& d = Deadline();
  {
    std::lock_guard<std::mutex> lock(d.mu);
    d.armed = false;
  }
  d.changed.notify_all();
}

}  // namespace sentrel

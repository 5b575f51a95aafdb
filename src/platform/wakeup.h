#ifndef SENTREL_PLATFORM_WAKEUP_H_
#define SENTREL_PLATFORM_WAKEUP_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace sentrel {

// A latch that a sleeping thread can be woken through. Signal() may come
// from any thread; the sleeper calls Consume() when it has taken notice.
class Wakeup {
 public:
  void Signal() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      signalled_ = true;
    }
    cv_.notify_all();
  }
  // Returns whether a signal arrived within `ms` milliseconds (or before).
  bool WaitMs(int ms) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(ms),
                        [this] { return signalled_; });
  }
  bool IsSignalled() {
    std::lock_guard<std::mutex> lock(mu_);
    return signalled_;
  }
  void Consume() {
    std::lock_guard<std::mutex> lock(mu_);
    signalled_ = false;
  }

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  bool signalled_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_WAKEUP_H_

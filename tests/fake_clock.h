#ifndef SENTREL_TESTS_FAKE_CLOCK_H_
#define SENTREL_TESTS_FAKE_CLOCK_H_

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/clock.h"
#include "platform/wakeup.h"

namespace sentrel {

// A clock whose time moves only as far as the test lets it. Waits advance the
// time up to the test's limit at once and then block (in real time) until
// the limit moves or the waiter is woken. Meant for one waiting thread. It
// has no time zone (its local reading is its instant read as UTC) unless
// told to read its instants in the process's zone.
class FakeClock final : public Clock {
 public:
  // Starts at the local reading `start_value`.
  explicit FakeClock(double start_value) : start_(InstantOfUtcValue(start_value)) {}
  // Starts at a real instant, for tests that compare it with files' times.
  static FakeClock At(Instant start) { return FakeClock(start); }

  LocalTime Now() override { return LocalTimeFromValue(LocalValueAt(RealNow())); }
  double LocalValueAt(Instant t) override {
    return zoned_ ? FileTimeToLocalDateTime(t) : UtcValueOfInstant(t);
  }
  void ReadInProcessZone() { zoned_ = true; }
  Instant RealNow() override {
    std::lock_guard<std::mutex> lock(mu_);
    return start_ + now_ms_ * 1000000;
  }
  int64_t TickMs() override {
    std::lock_guard<std::mutex> lock(mu_);
    return now_ms_;
  }
  bool WaitFor(Wakeup& wakeup, int ms) override {
    std::unique_lock<std::mutex> lock(mu_);
    ++waits_;
    const int64_t deadline = now_ms_ + ms;
    for (;;) {
      if (wakeup.IsSignalled()) return true;
      if (limit_ms_ >= deadline) {
        now_ms_ = deadline;
        return false;
      }
      now_ms_ = limit_ms_ > now_ms_ ? limit_ms_ : now_ms_;
      blocked_ = true;
      cv_.notify_all();
      cv_.wait_for(lock, std::chrono::milliseconds(2));
      blocked_ = false;
    }
  }

  // Lets the time run `ms` further, and waits (in real time, up to 30 s) until
  // the waiting thread has used it all up and blocks again.
  void RunFor(int64_t ms) {
    std::unique_lock<std::mutex> lock(mu_);
    limit_ms_ = now_ms_ + ms;
    cv_.wait_for(lock, std::chrono::seconds(30),
                 [this] { return now_ms_ >= limit_ms_ && blocked_; });
  }
  // How many waits began so far.
  int Waits() {
    std::lock_guard<std::mutex> lock(mu_);
    return waits_;
  }
  // Sets the time without running anything.
  void Set(Instant t) {
    std::lock_guard<std::mutex> lock(mu_);
    start_ = t - now_ms_ * 1000000;
  }

 private:
  explicit FakeClock(Instant start) : start_(start) {}

  std::mutex mu_;
  std::condition_variable cv_;
  Instant start_;
  int64_t now_ms_ = 0;
  int64_t limit_ms_ = 0;
  bool blocked_ = false;
  bool zoned_ = false;
  int waits_ = 0;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_FAKE_CLOCK_H_

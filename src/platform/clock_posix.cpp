#include <time.h>

#include <climits>
#include <mutex>

#include "platform/clock.h"
#include "platform/wakeup.h"

namespace sentrel {
namespace {

// Held around every use of the C library's zone. The library serializes
// these calls with a lock of its own, which the thread sanitizer cannot see:
// a new zone replaces memory that the previous reading allocated. Beside
// the library's own lock this one costs next to nothing.
std::mutex& ZoneMutex() {
  static std::mutex* mu = new std::mutex;
  return *mu;
}

bool LocalCalendar(time_t secs, struct tm& tm) {
  std::lock_guard<std::mutex> lock(ZoneMutex());
  return localtime_r(&secs, &tm) != nullptr;
}

LocalTime FromTm(const struct tm& tm, int ms) {
  LocalTime t;
  t.year = tm.tm_year + 1900;
  t.month = tm.tm_mon + 1;
  t.day = tm.tm_mday;
  t.weekday = tm.tm_wday + 1;
  t.hour = tm.tm_hour;
  t.minute = tm.tm_min;
  t.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;  // leap seconds fold into :59
  t.millisecond = ms;
  t.value = DateTimeValue(t.year, t.month, t.day, t.hour, t.minute, t.second,
                          t.millisecond);
  return t;
}

class PosixClock final : public Clock {
 public:
  LocalTime Now() override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    if (!LocalCalendar(ts.tv_sec, tm)) return LocalTime();
    return FromTm(tm, static_cast<int>(ts.tv_nsec / 1000000));
  }
  Instant RealNow() override {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return InstantOf(ts.tv_sec, ts.tv_nsec);
  }
  double LocalValueAt(Instant t) override { return FileTimeToLocalDateTime(t); }
  // localtime_r reads the zone once and keeps it. tzset, with no TZ in the
  // environment, looks at /etc/localtime again (one stat) and reads it anew
  // when it is another file or was rewritten; with TZ set, the user chose
  // the zone and it stays.
  void FollowZoneChange() override {
    std::lock_guard<std::mutex> lock(ZoneMutex());
    tzset();
  }
  // Counts the time the machine slept too, so that an interval that passed
  // during a suspend is due once the machine wakes.
  int64_t TickMs() override {
    struct timespec ts;
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
  }
  bool WaitFor(Wakeup& wakeup, int ms) override { return wakeup.WaitMs(ms); }
};

}  // namespace

Clock& SystemClock() {
  // Never destroyed: item threads that are still finishing may read it while
  // the process exits.
  static Clock* clock = new PosixClock;
  return *clock;
}

double FileTimeToLocalDateTime(Instant t) {
  const int64_t ms = t / 1000000 - (t % 1000000 < 0 ? 1 : 0);
  const int64_t seconds = ms / 1000 - (ms % 1000 < 0 ? 1 : 0);
  struct tm tm;
  // A file may be dated in a year that the calendar's int cannot hold once
  // 1900 is added: it is as undatable as one that the library refuses.
  if (!LocalCalendar(static_cast<time_t>(seconds), tm) || tm.tm_year > INT_MAX - 1900) return 0.0;
  return FromTm(tm, static_cast<int>(ms - seconds * 1000)).value;
}

}  // namespace sentrel

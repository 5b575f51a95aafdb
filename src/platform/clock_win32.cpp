#include "platform/clock.h"
#include "platform/wakeup.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// 100 ns steps from 1601-01-01 (file times) to 1970-01-01 (instants).
constexpr int64_t kEpochSteps = 116444736000000000LL;

LocalTime FromSystemTime(const SYSTEMTIME& st) {
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.weekday = st.wDayOfWeek + 1;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond > 59 ? 59 : st.wSecond;
  t.millisecond = st.wMilliseconds;
  t.value = DateTimeValue(t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond);
  return t;
}

// The system reads its zone afresh for every conversion, so a zone changed
// while the program runs is followed without being asked.
class WindowsClock final : public Clock {
 public:
  LocalTime Now() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return FromSystemTime(st);
  }
  Instant RealNow() override {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    const int64_t steps =
        static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return (steps - kEpochSteps) * 100;
  }
  double LocalValueAt(Instant t) override { return FileTimeToLocalDateTime(t); }
  int64_t TickMs() override { return static_cast<int64_t>(GetTickCount64()); }
  bool WaitFor(Wakeup& wakeup, int ms) override { return wakeup.WaitMs(ms); }
};

}  // namespace

Clock& SystemClock() {
  // Never destroyed: item threads that are still finishing may read it while
  // the process exits.
  static Clock* clock = new WindowsClock;
  return *clock;
}

double FileTimeToLocalDateTime(Instant t) {
  // Instants before 1601 have no file time; the calendar's day zero stands
  // for them.
  const int64_t steps = t / 100 - (t % 100 < 0 ? 1 : 0) + kEpochSteps;
  if (steps < 0) return 0.0;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(steps);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(steps) >> 32);
  SYSTEMTIME utc, local;
  // The zone's rules for the file's own date, so that a daylight-saving
  // switch does not shift older files.
  if (!FileTimeToSystemTime(&ft, &utc) ||
      !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
    return 0.0;
  }
  return FromSystemTime(local).value;
}

}  // namespace sentrel

#ifndef SENTREL_PLATFORM_CLOCK_H_
#define SENTREL_PLATFORM_CLOCK_H_

#include <cstdint>

namespace sentrel {

class Wakeup;

// A local calendar reading, as the schedule window and the date macros need
// it. `value` is the same instant as days since 1899-12-30 with the time of
// day as the fraction (milliseconds kept).
struct LocalTime {
  int year = 1899, month = 12, day = 30;  // month 1..12, day 1..31
  int weekday = 7;                        // 1 Sunday .. 7 Saturday
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  double value = 0.0;
};

// Time as the core sees it. Items and actions get one passed in so that unit
// tests can run a schedule or a check loop on a fake clock.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
  // Milliseconds from an arbitrary start; never goes backwards.
  virtual int64_t TickMs() = 0;
  // Waits up to `ms` milliseconds, returning early (true) once `wakeup` has
  // been signalled. A fake clock may return at once and advance its time.
  virtual bool WaitFor(Wakeup& wakeup, int ms) = 0;
};

// The real clock of this machine.
Clock& SystemClock();

// Builds the calendar reading of a local date-time value (days since
// 1899-12-30); the inverse of LocalTime::value. Pure arithmetic.
LocalTime LocalTimeFromValue(double value);
double DateTimeValue(int year, int month, int day, int hour, int minute,
                     int second, int millisecond);

// A file's last-write time (seconds and nanoseconds since the epoch, UTC) as
// a local date-time value. The offset in force at the file's own time is
// used, so a daylight-saving switch does not shift older files.
double FileTimeToLocalDateTime(int64_t seconds, int64_t nanoseconds);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_CLOCK_H_

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

// A real instant: nanoseconds since 1970-01-01 00:00:00 UTC. Last-write
// times are kept and compared in this form, and ages measured in it, because
// it does not move when daylight saving or the time zone does: a local
// reading repeats an hour every autumn. Instants outside the years 1678 to
// 2262 are held at the nearest end of that range.
using Instant = int64_t;

constexpr int64_t kNanosPerSecond = 1000000000;

// The instant `seconds` and `nanoseconds` after the epoch, held in range.
Instant InstantOf(int64_t seconds, int64_t nanoseconds);

// Time as the core sees it. Items and actions get one passed in so that unit
// tests can run a schedule or a check loop on a fake clock.
class Clock {
 public:
  virtual ~Clock() = default;
  // The local calendar reading of now.
  virtual LocalTime Now() = 0;
  // The real instant now. A clock that only knows its local reading takes it
  // for UTC.
  virtual Instant RealNow();
  // The local reading of the real instant `t` as a date-time value, by the
  // zone's rules for that instant. A clock without a zone reads it as UTC.
  virtual double LocalValueAt(Instant t);
  // Real milliseconds from now until the local reading first shows `value`
  // or later. Differs from the difference of the readings when a
  // daylight-saving switch lies between; a reading that the switch skips is
  // reached at the switch. 0 when it is already shown.
  int64_t MsUntilLocal(double value);
  // Takes up a change of the system's time zone made since the last call, so
  // that local readings and conversions from then on follow the new zone.
  // Cheap when nothing changed; called once per pass of an item's loop, so
  // never once per file.
  virtual void FollowZoneChange() {}
  // Milliseconds from an arbitrary start, the time the machine was
  // suspended included; never goes backwards.
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

// The instant of a local date-time value read as UTC, and back; pure
// arithmetic, for clocks and records that carry no zone.
Instant InstantOfUtcValue(double value);
double UtcValueOfInstant(Instant t);

// An instant (a file's last-write time) as a local date-time value, for
// showing it. The offset in force at that instant is used, so a
// daylight-saving switch does not shift older files. 0 (the calendar's day
// zero) for an instant the calendar cannot hold.
double FileTimeToLocalDateTime(Instant t);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_CLOCK_H_

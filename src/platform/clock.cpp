// The calendar arithmetic of the clock: the same on every system.
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "platform/clock.h"

namespace sentrel {
namespace {

// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kEpochOffsetDays = 25569;

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

Instant InstantOf(int64_t seconds, int64_t nanoseconds) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  if (seconds > (kMax - nanoseconds) / kNanosPerSecond) return kMax;
  if (seconds < (kMin + kNanosPerSecond) / kNanosPerSecond) return kMin;
  return seconds * kNanosPerSecond + nanoseconds;
}

Instant Clock::RealNow() { return InstantOfUtcValue(Now().value); }

double Clock::LocalValueAt(Instant t) { return UtcValueOfInstant(t); }

int64_t Clock::MsUntilLocal(double value) {
  constexpr int64_t kNsPerMs = 1000000;
  const Instant now = RealNow();
  // Readings as instants "read as UTC", so that their differences are
  // plain arithmetic; the zone's offset at an instant is then the
  // difference of its reading and itself.
  const Instant target = InstantOfUtcValue(value);
  auto reading = [this](Instant t) { return InstantOfUtcValue(LocalValueAt(t)); };
  if (reading(now) >= target) return 0;
  // The target read with the offset in force now, then with the offset in
  // force at that guess: one of them holds unless a switch skips the
  // target's reading. The earlier of those that hold comes first.
  const Instant first = target - (reading(now) - now);
  const Instant second = target - (reading(first) - first);
  std::optional<Instant> best;
  for (Instant c : {first, second}) {
    // Readings keep whole milliseconds: one either way is the same reading.
    const Instant off = reading(c) - target;
    if (c > now && off <= kNsPerMs && off >= -kNsPerMs && (!best || c < *best)) best = c;
  }
  if (!best) {
    // Skipped: the switch lies between the two guesses, and there the
    // reading only moves forward, so the first instant that shows the
    // target or later is found by halving.
    Instant lo = std::max(now, std::min(first, second));
    Instant hi = std::max(first, second);
    if (hi <= now || reading(hi) < target) return (target - reading(now)) / kNsPerMs;
    while (hi - lo > kNsPerMs) {
      const Instant mid = lo + (hi - lo) / 2;
      (reading(mid) >= target ? hi : lo) = mid;
    }
    best = hi;
  }
  return (*best - now + kNsPerMs - 1) / kNsPerMs;
}

Instant InstantOfUtcValue(double value) {
  // Whole milliseconds, the value's own resolution. Negative values count
  // the day back and the time of day forward.
  const double whole = std::trunc(value);
  const double ms = (whole - kEpochOffsetDays) * 86400000.0 +
                    std::round(std::fabs(value - whole) * 86400000.0);
  if (!(ms < 9.2e12)) return std::numeric_limits<int64_t>::max();
  if (!(ms > -9.2e12)) return std::numeric_limits<int64_t>::min();
  return static_cast<Instant>(ms) * 1000000;
}

double UtcValueOfInstant(Instant t) {
  constexpr int64_t kMsPerDay = 86400000;
  const int64_t ms = t / 1000000 - (t % 1000000 < 0 ? 1 : 0);
  const int64_t days = ms / kMsPerDay - (ms % kMsPerDay < 0 ? 1 : 0);
  const double day = static_cast<double>(days + kEpochOffsetDays);
  const double frac = static_cast<double>(ms - days * kMsPerDay) / kMsPerDay;
  return day >= 0 ? day + frac : day - frac;
}

double DateTimeValue(int year, int month, int day, int hour, int minute,
                     int second, int millisecond) {
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month),
                                     static_cast<unsigned>(day)) +
                       kEpochOffsetDays;
  const double frac =
      (hour * 3600000.0 + minute * 60000.0 + second * 1000.0 + millisecond) /
      86400000.0;
  // Negative values keep the day in the integer part and the time of day as
  // a positive fraction, as the date-time convention has it.
  return days >= 0 ? days + frac : days - frac;
}

LocalTime LocalTimeFromValue(double value) {
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  int64_t ms = std::llround(frac * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += value >= 0 ? 1 : -1;
  }
  int64_t z = static_cast<int64_t>(whole) - kEpochOffsetDays + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  LocalTime t;
  t.year = static_cast<int>(y + (m <= 2));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  int64_t days_since_epoch = static_cast<int64_t>(whole) - kEpochOffsetDays;
  // 1970-01-01 was a Thursday (weekday 5 with Sunday = 1).
  int64_t wd = ((days_since_epoch % 7) + 7 + 4) % 7;
  t.weekday = static_cast<int>(wd) + 1;
  t.hour = static_cast<int>(ms / 3600000);
  t.minute = static_cast<int>(ms / 60000 % 60);
  t.second = static_cast<int>(ms / 1000 % 60);
  t.millisecond = static_cast<int>(ms % 1000);
  t.value = value;
  return t;
}

}  // namespace sentrel

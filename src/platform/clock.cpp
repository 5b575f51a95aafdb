// The calendar arithmetic of date-time values, the same on every platform.
#include <cmath>

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

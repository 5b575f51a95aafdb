#ifndef SENTREL_MONITOR_SCHEDULE_H_
#define SENTREL_MONITOR_SCHEDULE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/regional.h"

namespace sentrel {

// A time of day as a fraction of a day, from a text such as "09:30:00",
// "9:30 PM" or "am 7". Fails on anything else.
std::optional<double> ParseTimeOfDay(std::string_view text, const RegionalSettings& regional);

// The 31 day-of-month flags ("0"/"1", day d at d-1) of a text such as
// "1,15" or "5-10; 20". Numbers that are no day of a month are passed over
// and, when `ignored` is given, added to it.
std::string ParseMonthDays(std::string_view text, std::vector<int64_t>* ignored = nullptr);

// When an item may check: weekdays, days of the month and, with work hours,
// time-of-day ranges.
class ScheduleWindow {
 public:
  // Reads "TimeInterval" entries (start in characters 1-8, end in 12-19),
  // removing those that cannot be read from `intervals` (and adding their
  // first positions to `dropped`). Work hours are switched off when no range
  // is left.
  void Configure(std::string days, std::string_view month_days, bool work_hours,
                 std::vector<std::string>& intervals, const RegionalSettings& regional,
                 std::vector<size_t>* dropped = nullptr);

  bool Contains(const LocalTime& now) const;
  // Milliseconds from `now` until Contains may answer otherwise (just past
  // the next range bound or midnight); -1 when it always says yes. Read on
  // the local clock: a clock set or a zone change moves the moment.
  int64_t MsUntilChange(const LocalTime& now) const;
  // The window in words: "every day, at any time", "Monday to Friday, on
  // days 1, 15 of the month, 09:00:00 to 17:00:00".
  std::string Describe() const;

  bool work_hours() const { return work_hours_; }
  const std::vector<double>& bounds() const { return bounds_; }
  const std::string& month_day_flags() const { return month_day_flags_; }

 private:
  std::string days_ = "1111111";
  std::string month_day_flags_ = std::string(31, '0');
  bool work_hours_ = false;
  std::vector<double> bounds_;  // start, end, start, end ...
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_SCHEDULE_H_

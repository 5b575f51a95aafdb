#include "monitor/schedule.h"

#include <cmath>
#include <cstdio>

#include "shell/text_util.h"

namespace sentrel {
namespace {

class TimeScanner {
 public:
  TimeScanner(std::string_view text, const RegionalSettings& regional)
      : text_(text), regional_(regional) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  }
  bool AtEnd() const { return pos_ >= text_.size(); }

  // 0 none, 1 morning, 2 afternoon.
  int Designator() {
    SkipBlanks();
    const std::string_view candidates[] = {regional_.am, regional_.pm, "AM", "PM"};
    for (int i = 0; i < 4; ++i) {
      std::string_view c = candidates[i];
      if (!c.empty() && StartsWithIgnoreCase(text_.substr(pos_), c)) {
        pos_ += c.size();
        return (i % 2) + 1;
      }
    }
    return 0;
  }

  bool Number(int& out) {
    SkipBlanks();
    size_t start = pos_;
    int n = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9' && n < 1000) {
      n = n * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    out = n;
    return pos_ > start;
  }

  bool Separator() {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == regional_.time_separator) {
      ++pos_;
      return true;
    }
    return false;
  }

 private:
  std::string_view text_;
  const RegionalSettings& regional_;
  size_t pos_ = 0;
};

}  // namespace

std::optional<double> ParseTimeOfDay(std::string_view text, const RegionalSettings& regional) {
  TimeScanner s(text, regional);
  int designator = s.Designator();
  int hours = 0, minutes = 0, seconds = 0;
  if (!s.Number(hours)) return std::nullopt;
  if (s.Separator()) {
    if (!s.Number(minutes)) return std::nullopt;
    if (s.Separator() && !s.Number(seconds)) return std::nullopt;
  }
  if (designator == 0) designator = s.Designator();
  s.SkipBlanks();
  if (!s.AtEnd()) return std::nullopt;
  if (designator != 0) {
    if (hours < 1 || hours > 12) return std::nullopt;
    if (hours == 12) hours = 0;
    if (designator == 2) hours += 12;
  } else if (hours > 23) {
    return std::nullopt;
  }
  if (minutes > 59 || seconds > 59) return std::nullopt;
  return (hours * 3600000.0 + minutes * 60000.0 + seconds * 1000.0) / 86400000.0;
}

std::string ParseMonthDays(std::string_view text, std::vector<int64_t>* ignored) {
  std::string flags(31, '0');
  text = text.substr(0, 4096);
  int last = 0, from = 0;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && !(text[i] >= '0' && text[i] <= '9')) {
      if (text[i] == '-') {
        from = last;
      } else if (text[i] != ' ') {
        last = 0;
        from = 0;
      }
      ++i;
    }
    int64_t n = 0;
    const size_t digits_from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      // Anything this large is out of range already; stop growing it.
      if (n < 1000000) n = n * 10 + (text[i] - '0');
      ++i;
    }
    if (n >= 1 && n <= 31) {
      int day = static_cast<int>(n);
      flags[static_cast<size_t>(day - 1)] = '1';
      if (from != 0) {
        int lo = from < day ? from : day, hi = from < day ? day : from;
        for (int d = lo; d <= hi; ++d) flags[static_cast<size_t>(d - 1)] = '1';
        from = 0;
      }
      last = day;
    } else {
      last = 0;
      if (ignored != nullptr && i > digits_from) ignored->push_back(n);
    }
  }
  return flags;
}

void ScheduleWindow::Configure(std::string days, std::string_view month_days, bool work_hours,
                               std::vector<std::string>& intervals,
                               const RegionalSettings& regional, std::vector<size_t>* dropped) {
  days_ = std::move(days);
  bounds_.clear();
  size_t original = 0;
  for (size_t i = 0; i < intervals.size(); ++original) {
    std::string_view entry = intervals[i];
    std::string_view start = entry.substr(0, 8);
    std::string_view end = entry.size() > 11 ? entry.substr(11, 8) : std::string_view();
    auto a = ParseTimeOfDay(start, regional);
    auto b = a ? ParseTimeOfDay(end, regional) : std::nullopt;
    if (a && b) {
      bounds_.push_back(*a);
      bounds_.push_back(*b);
      ++i;
    } else {
      intervals.erase(intervals.begin() + static_cast<std::ptrdiff_t>(i));
      if (dropped != nullptr) dropped->push_back(original);
    }
  }
  work_hours_ = work_hours && !bounds_.empty();
  month_day_flags_ = ParseMonthDays(month_days);
}

namespace {

std::string TimeOfDayText(double fraction) {
  long ms = static_cast<long>(fraction * 86400000.0 + 0.5);
  const long s = ms / 1000;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02ld:%02ld:%02ld", s / 3600 % 100, s / 60 % 60, s % 60);
  return buf;
}

// Runs of set flags: "1-3, 7, 9-10" (with `to` between the ends of a run
// longer than two).
std::string Runs(const std::string& flags, const std::vector<std::string>& names,
                 const std::string& to) {
  std::string out;
  for (size_t i = 0; i < flags.size();) {
    if (flags[i] != '1') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j + 1 < flags.size() && flags[j + 1] == '1') ++j;
    if (!out.empty()) out += ", ";
    out += names[i];
    if (j == i + 1) out += ", " + names[j];
    if (j > i + 1) out += to + names[j];
    i = j + 1;
  }
  return out;
}

}  // namespace

std::string ScheduleWindow::Describe() const {
  static const std::vector<std::string> kDays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                 "Thursday", "Friday", "Saturday"};
  std::string week = days_.substr(0, 7);
  week.resize(7, '0');
  std::string out;
  if (week == "1111111") {
    out = "every day";
  } else if (week.find('1') == std::string::npos) {
    out = "no day of the week (never checks)";
  } else {
    out = Runs(week, kDays, " to ");
  }
  if (month_day_flags_.find('1') != std::string::npos) {
    std::vector<std::string> numbers;
    for (int d = 1; d <= 31; ++d) numbers.push_back(std::to_string(d));
    out += ", on days " + Runs(month_day_flags_, numbers, "-") + " of the month";
  }
  if (!work_hours_) return out + ", at any time";
  for (size_t i = 0; i + 1 < bounds_.size(); i += 2) {
    const double a = bounds_[i], b = bounds_[i + 1];
    out += ", ";
    if (a == b) {
      out += "all day";
    } else {
      out += TimeOfDayText(a) + " to " + TimeOfDayText(b);
      if (a > b) out += " (over midnight)";
    }
  }
  return out;
}

bool ScheduleWindow::Contains(const LocalTime& now) const {
  size_t w = static_cast<size_t>(now.weekday - 1);
  if (w >= days_.size() || days_[w] != '1') return false;
  if (month_day_flags_.find('1') != std::string::npos) {
    size_t d = static_cast<size_t>(now.day - 1);
    if (d >= month_day_flags_.size() || month_day_flags_[d] != '1') return false;
  }
  if (!work_hours_) return true;
  const double t = (now.hour * 3600000.0 + now.minute * 60000.0 + now.second * 1000.0 +
                    now.millisecond) /
                   86400000.0;
  for (size_t i = 0; i + 1 < bounds_.size(); i += 2) {
    double a = bounds_[i], b = bounds_[i + 1];
    if (a < b ? (a <= t && t <= b) : (t >= a || t <= b)) return true;
  }
  return false;
}

int64_t ScheduleWindow::MsUntilChange(const LocalTime& now) const {
  const bool all_days = days_.compare(0, 7, "1111111") == 0;
  if (!work_hours_ && all_days && month_day_flags_.find('1') == std::string::npos) return -1;
  constexpr int64_t kDay = 86400000;
  const int64_t t = now.hour * 3600000LL + now.minute * 60000LL + now.second * 1000LL +
                    now.millisecond;
  int64_t next = kDay;  // midnight: the weekday and the day of the month turn
  if (work_hours_) {
    for (double bound : bounds_) {
      // A range holds its end, so the window closes just after it.
      const int64_t ms = static_cast<int64_t>(std::ceil(bound * kDay)) + 1;
      if (ms > t && ms < next) next = ms;
    }
  }
  return next - t;
}

}  // namespace sentrel

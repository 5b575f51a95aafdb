#include "actions/date_format.h"

#include <cmath>

#include "platform/clock.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// The first and the last day the pattern can name: 0001-01-01 and the day
// after 9999-12-31.
constexpr double kFirstDay = -693593.0;
constexpr double kPastLastDay = 2958466.0;

// Regional formats are patterns themselves and may name each other; two
// levels are enough for every real one and stop a format that names itself.
constexpr int kMaxNesting = 2;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsDesignator(std::string_view at) {
  return StartsWithIgnoreCase(at, "AM/PM") || StartsWithIgnoreCase(at, "A/P") ||
         StartsWithIgnoreCase(at, "AMPM");
}

class Formatter {
 public:
  Formatter(std::string& out, const LocalTime& t, const RegionalSettings& r)
      : out_(out), t_(t), r_(r) {}

  void Format(std::string_view p, int level) {
    if (level >= kMaxNesting) return;
    char last_letter = 0;
    size_t i = 0;
    while (i < p.size()) {
      const char starter = p[i++];
      char token = Upper(starter);
      if (IsAsciiLetter(token)) {
        // "m" right after an hour is the minute, as in "hh:mm".
        if (token == 'M' && last_letter == 'H') token = 'N';
        last_letter = token;
      }
      auto run_length = [&] {
        size_t n = 1;
        while (i < p.size() && p[i] == starter) {
          ++i;
          ++n;
        }
        return n;
      };
      switch (token) {
        case 'Y': {
          const size_t n = run_length();
          if (n <= 2) {
            Number(t_.year % 100, 2);
          } else {
            Number(t_.year, 4);
          }
          break;
        }
        case 'G':
          run_length();  // no era names in the Gregorian calendar of a locale
          break;
        case 'E':
          run_length();
          Number(t_.year, 1);
          break;
        case 'M': {
          const size_t n = run_length();
          if (n <= 2) {
            Number(t_.month, static_cast<int>(n));
          } else if (n == 3) {
            out_ += r_.short_month_names[t_.month - 1];
          } else {
            out_ += r_.long_month_names[t_.month - 1];
          }
          break;
        }
        case 'D': {
          const size_t n = run_length();
          if (n <= 2) {
            Number(t_.day, static_cast<int>(n));
          } else if (n == 3) {
            out_ += r_.short_day_names[t_.weekday - 1];
          } else if (n == 4) {
            out_ += r_.long_day_names[t_.weekday - 1];
          } else if (n == 5) {
            Regional(r_.short_date, level);
          } else {
            Regional(r_.long_date, level);
          }
          break;
        }
        case 'H': {
          const size_t n = run_length();
          if (DesignatorFollows(p.substr(i))) twelve_hour_ = true;
          int h = t_.hour;
          if (twelve_hour_) {
            if (h == 0) {
              h = 12;
            } else if (h > 12) {
              h -= 12;
            }
          }
          Number(h, n >= 2 ? 2 : 1);
          break;
        }
        case 'N':
          Number(t_.minute, run_length() >= 2 ? 2 : 1);
          break;
        case 'S':
          Number(t_.second, run_length() >= 2 ? 2 : 1);
          break;
        case 'T':
          Regional(run_length() == 1 ? r_.short_time : r_.long_time, level);
          break;
        case 'A': {
          const std::string_view at = p.substr(i - 1);
          const bool pm = t_.hour >= 12;
          if (StartsWithIgnoreCase(at, "AM/PM")) {
            out_.append(at.substr(pm ? 3 : 0, 2));  // in the letter case written
            i += 4;
            twelve_hour_ = true;
          } else if (StartsWithIgnoreCase(at, "A/P")) {
            out_.append(at.substr(pm ? 2 : 0, 1));
            i += 2;
            twelve_hour_ = true;
          } else if (StartsWithIgnoreCase(at, "AMPM")) {
            out_ += pm ? r_.pm : r_.am;
            i += 3;
            twelve_hour_ = true;
          } else if (StartsWithIgnoreCase(at, "AAAA")) {
            out_ += r_.long_day_names[t_.weekday - 1];
            i += 3;
          } else if (StartsWithIgnoreCase(at, "AAA")) {
            out_ += r_.short_day_names[t_.weekday - 1];
            i += 2;
          } else {
            out_.push_back(starter);
          }
          break;
        }
        case 'C':
          run_length();
          Regional(r_.short_date, level);
          if (t_.hour != 0 || t_.minute != 0 || t_.second != 0) {
            out_.push_back(' ');
            Regional(r_.long_time, level);
          }
          break;
        case '/':
          if (r_.date_separator != '\0') out_.push_back(r_.date_separator);
          break;
        case ':':
          if (r_.time_separator != '\0') out_.push_back(r_.time_separator);
          break;
        case '\'':
        case '"': {
          size_t close = p.find(starter, i);
          if (close == std::string_view::npos) close = p.size();
          out_.append(p.substr(i, close - i));
          i = close < p.size() ? close + 1 : close;
          break;
        }
        default:
          out_.push_back(starter);
          break;
      }
    }
  }

 private:
  // A regional format is a pattern of its own: it keeps its own 12- or
  // 24-hour clock, whatever the pattern around it chose, and leaves the
  // pattern's clock alone.
  void Regional(const std::string& format, int level) {
    Formatter inner(out_, t_, r_);
    inner.Format(format, level + 1);
  }

  // Whether a morning/afternoon token comes before the next hour token, so
  // that this hour is on the 12-hour clock. Quoted text does not count.
  static bool DesignatorFollows(std::string_view rest) {
    char quote = 0;
    for (size_t j = 0; j < rest.size(); ++j) {
      const char c = rest[j];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '\'' || c == '"') {
        quote = c;
      } else if (c == 'h' || c == 'H') {
        return false;
      } else if ((c == 'a' || c == 'A') && IsDesignator(rest.substr(j))) {
        return true;
      }
    }
    return false;
  }

  void Number(int v, int min_digits) {
    char buf[12];
    int n = 0;
    unsigned u = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    do {
      buf[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) out_.push_back('-');
    for (int pad = n; pad < min_digits; ++pad) out_.push_back('0');
    while (n > 0) out_.push_back(buf[--n]);
  }

  std::string& out_;
  const LocalTime& t_;
  const RegionalSettings& r_;
  // Once a morning/afternoon token has been seen, every later hour is on the
  // 12-hour clock.
  bool twelve_hour_ = false;
};

}  // namespace

bool FormatDateTime(std::string& out, std::string_view pattern, double value,
                    const RegionalSettings& regional) {
  if (!std::isfinite(value) || value < kFirstDay || value >= kPastLastDay) return false;
  const LocalTime t = LocalTimeFromValue(value);
  Formatter f(out, t, regional);
  f.Format(pattern.empty() ? std::string_view("c") : pattern, 0);
  return true;
}

}  // namespace sentrel

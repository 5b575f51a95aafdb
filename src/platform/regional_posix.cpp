#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <string>

#include "platform/regional.h"

namespace sentrel {
namespace {

// Turns a strftime format into the date-time pattern form. Literal letters
// are quoted, since letters are fields in the pattern form. With
// `date_only`, the time-of-day and zone fields are left out.
std::string PatternFromStrftime(const char* fmt, bool date_only = false) {
  std::string out;
  auto time_field = [&](const char* pattern) {
    if (!date_only) out += pattern;
  };
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      const bool letter = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z');
      if (letter) out.push_back('"');
      out.push_back(*p);
      if (letter) out.push_back('"');
      continue;
    }
    ++p;
    while (*p == 'E' || *p == 'O' || *p == '-' || *p == '_' || *p == '0' || *p == '^' || *p == '#') ++p;
    switch (*p) {
      case 'd': out += "dd"; break;
      case 'e': out += "d"; break;
      case 'm': out += "mm"; break;
      case 'y': out += "yy"; break;
      case 'Y': out += "yyyy"; break;
      case 'b': case 'h': out += "mmm"; break;
      case 'B': out += "mmmm"; break;
      case 'a': out += "ddd"; break;
      case 'A': out += "dddd"; break;
      case 'D': out += "mm/dd/yy"; break;
      case 'F': out += "yyyy-mm-dd"; break;
      case 'H': case 'I': case 'k': case 'l': time_field("hh"); break;
      case 'M': time_field("nn"); break;
      case 'S': time_field("ss"); break;
      // The locale's own morning/afternoon words.
      case 'p': case 'P': time_field("ampm"); break;
      case 'T': time_field("hh:nn:ss"); break;
      case 'R': time_field("hh:nn"); break;
      case 'r': time_field("hh:nn:ss ampm"); break;
      case '%': out.push_back('%'); break;
      case '\0': return out;
      default: break;  // fields the pattern form has no name for are left out
    }
  }
  return out;
}

// The short time keeps the long time's hours and minutes: everything from the
// seconds on, except a trailing morning/afternoon designator, is dropped.
std::string ShortTimeOf(const std::string& long_time) {
  size_t ss = long_time.find("ss");
  if (ss == std::string::npos) return long_time;
  size_t cut = ss;
  while (cut > 0 && long_time[cut - 1] != 'n') --cut;
  std::string out = long_time.substr(0, cut);
  size_t ampm = long_time.find("ampm", ss);
  if (ampm != std::string::npos) out += " ampm";
  return out;
}

// The long date: the date part of the locale's date-and-time format, with
// day and month names written out in full. Blanks left where time fields
// stood are dropped.
std::string LongDateOf(const char* date_time_format) {
  std::string date = PatternFromStrftime(date_time_format, /*date_only=*/true);
  std::string out;
  for (size_t i = 0; i < date.size(); ++i) {
    const char c = date[i];
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(c);
    const bool run_of_three = (c == 'd' || c == 'm') && i >= 2 && date[i - 1] == c &&
                              date[i - 2] == c && (i < 3 || date[i - 3] != c) &&
                              (i + 1 >= date.size() || date[i + 1] != c);
    if (run_of_three) out.push_back(c);
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

void ApplyUserLocale() { setlocale(LC_ALL, ""); }

void ApplyLocaleFormats(RegionalSettings& r, const char* date_format, const char* time_format,
                        const char* date_time_format) {
  std::string date = PatternFromStrftime(date_format);
  std::string time = PatternFromStrftime(time_format);
  if (!date.empty()) r.short_date = date;
  std::string long_date = LongDateOf(date_time_format);
  if (long_date.find_first_of("dmy") != std::string::npos) r.long_date = long_date;
  if (!time.empty()) {
    r.long_time = time;
    r.short_time = ShortTimeOf(time);
  }
  r.date_separator = FirstSeparator(r.short_date, '/');
  r.time_separator = FirstSeparator(r.long_time, ':');
}

RegionalSettings UserRegionalSettings() {
  RegionalSettings r;
  const char* current = setlocale(LC_TIME, nullptr);
  // "C.UTF-8" is the C locale with another character set: its settings are
  // the C locale's.
  if (current == nullptr || std::strcmp(current, "C") == 0 || std::strncmp(current, "C.", 2) == 0 ||
      std::strcmp(current, "POSIX") == 0) {
    return r;
  }
  static const nl_item kAbDay[7] = {ABDAY_1, ABDAY_2, ABDAY_3, ABDAY_4, ABDAY_5, ABDAY_6, ABDAY_7};
  static const nl_item kDay[7] = {DAY_1, DAY_2, DAY_3, DAY_4, DAY_5, DAY_6, DAY_7};
  static const nl_item kAbMon[12] = {ABMON_1, ABMON_2, ABMON_3, ABMON_4, ABMON_5, ABMON_6,
                                     ABMON_7, ABMON_8, ABMON_9, ABMON_10, ABMON_11, ABMON_12};
  static const nl_item kMon[12] = {MON_1, MON_2, MON_3, MON_4, MON_5, MON_6,
                                   MON_7, MON_8, MON_9, MON_10, MON_11, MON_12};
  for (int i = 0; i < 7; ++i) {
    r.short_day_names[i] = nl_langinfo(kAbDay[i]);
    r.long_day_names[i] = nl_langinfo(kDay[i]);
  }
  for (int i = 0; i < 12; ++i) {
    r.short_month_names[i] = nl_langinfo(kAbMon[i]);
    r.long_month_names[i] = nl_langinfo(kMon[i]);
  }
  std::string am = nl_langinfo(AM_STR), pm = nl_langinfo(PM_STR);
  if (!am.empty()) r.am = am;
  if (!pm.empty()) r.pm = pm;
  // Copies: the next nl_langinfo call may overwrite the text it returned.
  const std::string date_format = nl_langinfo(D_FMT);
  const std::string time_format = nl_langinfo(T_FMT);
  const std::string date_time_format = nl_langinfo(D_T_FMT);
  ApplyLocaleFormats(r, date_format.c_str(), time_format.c_str(), date_time_format.c_str());
  return r;
}

}  // namespace sentrel

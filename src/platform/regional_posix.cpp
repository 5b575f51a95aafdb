#include <langinfo.h>
#include <locale.h>

#include <cstring>
#include <string>

#include "platform/regional.h"

namespace sentrel {
namespace {

// Turns a strftime format into the date-time pattern form.
std::string PatternFromStrftime(const char* fmt) {
  std::string out;
  for (const char* p = fmt; *p; ++p) {
    if (*p != '%') {
      out.push_back(*p);
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
      case 'H': case 'I': case 'k': case 'l': out += "hh"; break;
      case 'M': out += "nn"; break;
      case 'S': out += "ss"; break;
      case 'p': case 'P': out += "am/pm"; break;
      case 'D': out += "mm/dd/yy"; break;
      case 'F': out += "yyyy-mm-dd"; break;
      case 'T': out += "hh:nn:ss"; break;
      case 'R': out += "hh:nn"; break;
      case 'r': out += "hh:nn:ss am/pm"; break;
      case '%': out.push_back('%'); break;
      case '\0': return out;
      default: break;  // fields the pattern form has no name for are left out
    }
  }
  return out;
}

char FirstSeparator(const std::string& pattern, char fallback) {
  for (char c : pattern) {
    if (c != ' ' && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                      (c >= '0' && c <= '9'))) {
      return c;
    }
  }
  return fallback;
}

// The short time keeps the long time's hours and minutes: everything from the
// seconds on, except a trailing am/pm, is dropped.
std::string ShortTimeOf(const std::string& long_time) {
  size_t ss = long_time.find("ss");
  if (ss == std::string::npos) return long_time;
  size_t cut = ss;
  while (cut > 0 && long_time[cut - 1] != 'n') --cut;
  std::string out = long_time.substr(0, cut);
  size_t ampm = long_time.find("am/pm", ss);
  if (ampm != std::string::npos) out += " am/pm";
  return out;
}

}  // namespace

void ApplyUserLocale() { setlocale(LC_ALL, ""); }

RegionalSettings UserRegionalSettings() {
  RegionalSettings r;
  const char* current = setlocale(LC_TIME, nullptr);
  if (current == nullptr || std::strcmp(current, "C") == 0 ||
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
  std::string date = PatternFromStrftime(nl_langinfo(D_FMT));
  std::string time = PatternFromStrftime(nl_langinfo(T_FMT));
  if (!date.empty()) r.short_date = date;
  if (!time.empty()) {
    r.long_time = time;
    r.short_time = ShortTimeOf(time);
  }
  r.date_separator = FirstSeparator(r.short_date, '/');
  r.time_separator = FirstSeparator(r.long_time, ':');
  return r;
}

}  // namespace sentrel

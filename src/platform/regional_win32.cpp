#include <locale.h>

#include <algorithm>

#include "platform/regional.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

std::string LocaleText(LCTYPE what) {
  wchar_t buf[256];
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, what, buf, 256);
  return n > 1 ? Narrow(std::wstring_view(buf, static_cast<size_t>(n - 1))) : std::string();
}

}  // namespace

std::string PatternFromPicture(const std::string& picture) {
  std::string out;
  size_t i = 0;
  while (i < picture.size()) {
    const char c = picture[i];
    size_t n = 1;
    while (i + n < picture.size() && picture[i + n] == c) ++n;
    switch (c) {
      case 'd': out.append(std::min<size_t>(n, 4), 'd'); break;
      case 'M': out.append(std::min<size_t>(n, 4), 'm'); break;
      case 'y': out += n <= 2 ? "yy" : "yyyy"; break;
      case 'h': case 'H': out += n == 1 ? "h" : "hh"; break;
      case 'm': out += n == 1 ? "n" : "nn"; break;
      case 's': out += n == 1 ? "s" : "ss"; break;
      case 't': out += "ampm"; break;
      case 'g': break;  // the era: no names in the Gregorian calendar
      case '\'': {
        // Quoted text, where two quotes stand for one; "''" alone is a quote.
        std::string text;
        size_t j = i + 1;
        for (; j < picture.size(); ++j) {
          if (picture[j] != '\'') {
            text.push_back(picture[j]);
          } else if (j + 1 < picture.size() && picture[j + 1] == '\'') {
            text.push_back('\'');
            ++j;
          } else {
            break;
          }
        }
        if (j == i + 1) text.assign(1, '\'');  // two quotes outside quoted text
        out.push_back('"');
        out += text;
        out.push_back('"');
        i = j + 1;
        continue;
      }
      default: {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        for (size_t k = 0; k < n; ++k) {
          if (letter) out.push_back('"');
          out.push_back(c);
          if (letter) out.push_back('"');
        }
        break;
      }
    }
    i += n;
  }
  return out;
}

void ApplyUserLocale() {
  setlocale(LC_ALL, "");
  // Sentrel's texts are UTF-8; the console shows them as such.
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

RegionalSettings UserRegionalSettings() {
  RegionalSettings r;
  // The locale numbers its days from Monday; the settings from Sunday.
  for (int i = 0; i < 7; ++i) {
    const int day = (i + 6) % 7;  // Sunday is the locale's seventh
    const std::string s = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVDAYNAME1 + day));
    const std::string l = LocaleText(static_cast<LCTYPE>(LOCALE_SDAYNAME1 + day));
    if (!s.empty()) r.short_day_names[i] = s;
    if (!l.empty()) r.long_day_names[i] = l;
  }
  for (int i = 0; i < 12; ++i) {
    const std::string s = LocaleText(static_cast<LCTYPE>(LOCALE_SABBREVMONTHNAME1 + i));
    const std::string l = LocaleText(static_cast<LCTYPE>(LOCALE_SMONTHNAME1 + i));
    if (!s.empty()) r.short_month_names[i] = s;
    if (!l.empty()) r.long_month_names[i] = l;
  }
  const std::string am = LocaleText(LOCALE_S1159), pm = LocaleText(LOCALE_S2359);
  if (!am.empty()) r.am = am;
  if (!pm.empty()) r.pm = pm;
  const std::string short_date = PatternFromPicture(LocaleText(LOCALE_SSHORTDATE));
  const std::string long_date = PatternFromPicture(LocaleText(LOCALE_SLONGDATE));
  const std::string long_time = PatternFromPicture(LocaleText(LOCALE_STIMEFORMAT));
  const std::string short_time = PatternFromPicture(LocaleText(LOCALE_SSHORTTIME));
  if (!short_date.empty()) r.short_date = short_date;
  if (!long_date.empty()) r.long_date = long_date;
  if (!long_time.empty()) r.long_time = long_time;
  if (!short_time.empty()) r.short_time = short_time;
  r.date_separator = FirstSeparator(r.short_date, '/');
  r.time_separator = FirstSeparator(r.long_time, ':');
  return r;
}

}  // namespace sentrel

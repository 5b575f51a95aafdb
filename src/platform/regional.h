#ifndef SENTREL_PLATFORM_REGIONAL_H_
#define SENTREL_PLATFORM_REGIONAL_H_

#include <array>
#include <string>

namespace sentrel {

// The user's regional date and time settings, in the date-time pattern form
// of the action texts ("dd", "mmmm", "yyyy", "hh", "nn", "ss", "ampm" ...).
struct RegionalSettings {
  std::string short_date = "mm/dd/yyyy";
  std::string long_date = "dddd, mmmm d, yyyy";
  std::string short_time = "hh:nn";
  std::string long_time = "hh:nn:ss";
  std::string am = "AM";
  std::string pm = "PM";
  char date_separator = '/';
  char time_separator = ':';
  std::array<std::string, 7> short_day_names = {"Sun", "Mon", "Tue", "Wed",
                                                "Thu", "Fri", "Sat"};
  std::array<std::string, 7> long_day_names = {
      "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
  std::array<std::string, 12> short_month_names = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun",
      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> long_month_names = {
      "January", "February", "March",     "April",   "May",      "June",
      "July",    "August",   "September", "October", "November", "December"};
};

// Applies the user's locale to the process (once, at start); on Windows also
// lets the console show the program's UTF-8 text.
void ApplyUserLocale();

// Linux: sets the date and time formats and separators of `r` from a locale's
// strftime formats (the date, the time, and the date-and-time format): the
// short date from the first, the long and short time from the second, the
// long date from the date part of the third with names written out.
void ApplyLocaleFormats(RegionalSettings& r, const char* date_format, const char* time_format,
                        const char* date_time_format);

// Windows: turns a locale's format picture ("dddd, MMMM d, yyyy",
// "h:mm:ss tt") into the pattern form. Letters that are no field are quoted,
// since letters are fields in the pattern form.
std::string PatternFromPicture(const std::string& picture);

// The settings of the user's locale; the C/POSIX locale gives the defaults
// above.
RegionalSettings UserRegionalSettings();

// The first character of a date-time pattern that separates its fields
// (ASCII punctuation outside quoted text), or `fallback`.
char FirstSeparator(const std::string& pattern, char fallback);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_REGIONAL_H_

#include "platform/regional.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <string>

#include "actions/date_format.h"
#include "platform/clock.h"

namespace sentrel {
namespace {

const double kTuesdayAfternoon = DateTimeValue(2024, 3, 5, 14, 7, 9, 0);

std::string Format(const RegionalSettings& r, const char* pattern) {
  std::string out;
  FormatDateTime(out, pattern, kTuesdayAfternoon, r);
  return out;
}

TEST(RegionalTest, LocaleFormatsBecomePatterns) {
  RegionalSettings us;  // the texts glibc gives for en_US
  ApplyLocaleFormats(us, "%m/%d/%Y", "%r", "%a %d %b %Y %r %Z");
  EXPECT_EQ(us.short_date, "mm/dd/yyyy");
  EXPECT_EQ(us.long_time, "hh:nn:ss ampm");
  EXPECT_EQ(us.short_time, "hh:nn ampm");
  EXPECT_EQ(us.long_date, "dddd dd mmmm yyyy");
  EXPECT_EQ(Format(us, "c"), "03/05/2024 02:07:09 PM");
  EXPECT_EQ(Format(us, "t"), "02:07 PM");

  RegionalSettings de;  // de_DE
  ApplyLocaleFormats(de, "%d.%m.%Y", "%T", "%a %d %b %Y %T %Z");
  EXPECT_EQ(de.short_date, "dd.mm.yyyy");
  EXPECT_EQ(de.date_separator, '.');
  EXPECT_EQ(de.time_separator, ':');
  EXPECT_EQ(Format(de, "c"), "05.03.2024 14:07:09");
  EXPECT_EQ(Format(de, "yyyy/mm/dd"), "2024.03.05");
  EXPECT_EQ(Format(de, "dddddd"), "Tuesday 05 March 2024");

  // Literal letters stay letters; a multi-byte character is no separator.
  RegionalSettings other;
  ApplyLocaleFormats(other, "%Y\xe5\xb9\xb4%m\xe6\x9c\x88%d\xe6\x97\xa5", "%Hh%M", "%F %T");
  EXPECT_EQ(Format(other, "ddddd"), "2024\xe5\xb9\xb4" "03\xe6\x9c\x88" "05\xe6\x97\xa5");
  EXPECT_EQ(other.date_separator, '/');
  EXPECT_EQ(Format(other, "tt"), "14h07");
  EXPECT_EQ(other.long_date, "yyyy-mm-dd");
}

TEST(RegionalTest, TheCLocaleInAnyCharacterSetGivesTheDefaults) {
  const std::string saved = setlocale(LC_TIME, nullptr);
  for (const char* name : {"C", "POSIX", "C.UTF-8"}) {
    if (setlocale(LC_TIME, name) == nullptr) continue;
    const RegionalSettings r = UserRegionalSettings();
    EXPECT_EQ(r.short_date, "mm/dd/yyyy") << name;
    EXPECT_EQ(r.long_date, "dddd, mmmm d, yyyy") << name;
    EXPECT_EQ(r.long_time, "hh:nn:ss") << name;
    EXPECT_EQ(r.am, "AM") << name;
  }
  setlocale(LC_TIME, saved.c_str());
}

}  // namespace
}  // namespace sentrel

#include "platform/regional.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(RegionalTest, FormatPicturesBecomePatterns) {
  EXPECT_EQ(PatternFromPicture("M/d/yyyy"), "m/d/yyyy");
  EXPECT_EQ(PatternFromPicture("dddd, MMMM d, yyyy"), "dddd, mmmm d, yyyy");
  EXPECT_EQ(PatternFromPicture("h:mm:ss tt"), "h:nn:ss ampm");
  EXPECT_EQ(PatternFromPicture("HH:mm"), "hh:nn");
  EXPECT_EQ(PatternFromPicture("dd.MM.yy"), "dd.mm.yy");
  EXPECT_EQ(PatternFromPicture("yyyy'\xe5\xb9\xb4'M'\xe6\x9c\x88'd'\xe6\x97\xa5'"),
            "yyyy\"\xe5\xb9\xb4\"m\"\xe6\x9c\x88\"d\"\xe6\x97\xa5\"");
  EXPECT_EQ(PatternFromPicture("'o''clock' H"), "\"o'clock\" h");
  EXPECT_EQ(PatternFromPicture("h''mm"), "h\"'\"nn");
  EXPECT_EQ(PatternFromPicture("gg yyyy"), " yyyy");  // no era names
}

TEST(RegionalTest, TheUsersLocaleGivesNamesAndSeparators) {
  const RegionalSettings r = UserRegionalSettings();
  EXPECT_FALSE(r.long_day_names[0].empty());
  EXPECT_FALSE(r.short_month_names[11].empty());
  EXPECT_NE(r.short_date.find("yy"), std::string::npos);
  EXPECT_NE(r.long_time.find("nn"), std::string::npos);
  EXPECT_NE(r.date_separator, '\0');
}

}  // namespace
}  // namespace sentrel

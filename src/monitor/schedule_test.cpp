#include "monitor/schedule.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

constexpr double kSunday = 46362.0;  // 2026-12-06

LocalTime At(double day, int h, int m, int s, int ms = 0) {
  return LocalTimeFromValue(day + (h * 3600000.0 + m * 60000.0 + s * 1000.0 + ms) / 86400000.0);
}

ScheduleWindow Window(std::string days, std::string month_days, bool work_hours,
                      std::vector<std::string> ranges) {
  ScheduleWindow w;
  w.Configure(std::move(days), month_days, work_hours, ranges, RegionalSettings());
  return w;
}

TEST(TimeOfDayTest, ReadsClockTimesWithOptionalDesignators) {
  const RegionalSettings r;
  const std::pair<const char*, double> good[] = {
      {"09:00:00", 9 / 24.0},       {" 9:30 ", 9.5 / 24.0}, {"17", 17 / 24.0},
      {"12:00 AM", 0.0},            {"pm 1:15", 13.25 / 24.0}, {"11:59:59 pm", (23 * 3600 + 59 * 60 + 59) / 86400.0},
  };
  for (const auto& [text, value] : good) {
    auto t = ParseTimeOfDay(text, r);
    ASSERT_TRUE(t.has_value()) << text;
    EXPECT_NEAR(*t, value, 1e-9) << text;
  }
  for (const char* bad : {"", "24:00:00", "13:00 PM", "0 AM", "9:60", "9:", "9 - 1", "x9", "9:00:00 -"}) {
    EXPECT_FALSE(ParseTimeOfDay(bad, r).has_value()) << bad;
  }
}

TEST(MonthDaysTest, ReadsDaysListsAndRanges) {
  auto days = [](std::string_view text) {
    std::string flags = ParseMonthDays(text), out;
    for (int d = 1; d <= 31; ++d) {
      if (flags[static_cast<size_t>(d - 1)] == '1') out += std::to_string(d) + " ";
    }
    return out;
  };
  EXPECT_EQ(days("1,15"), "1 15 ");
  EXPECT_EQ(days("5-10"), "5 6 7 8 9 10 ");
  EXPECT_EQ(days("10-5"), "5 6 7 8 9 10 ");
  EXPECT_EQ(days("1-3, 20"), "1 2 3 20 ");
  EXPECT_EQ(days("5-40 10"), "5 6 7 8 9 10 ");
  EXPECT_EQ(days("0"), "");
  EXPECT_EQ(days("40"), "");
  EXPECT_EQ(days("99999999999999999999"), "");
}

TEST(ScheduleWindowTest, WeekdaysFollowTheDaysFlags) {
  auto weekdays = Window("0111110", "", false, {});
  EXPECT_FALSE(weekdays.Contains(At(kSunday, 12, 0, 0)));
  EXPECT_TRUE(weekdays.Contains(At(kSunday + 1, 12, 0, 0)));
  EXPECT_FALSE(weekdays.Contains(At(kSunday + 6, 12, 0, 0)));
  auto short_days = Window("1000000", "", false, {});
  EXPECT_TRUE(short_days.Contains(At(kSunday, 12, 0, 0)));
  EXPECT_FALSE(short_days.Contains(At(kSunday + 3, 12, 0, 0)));
}

TEST(ScheduleWindowTest, MonthDaysRestrictTheDate) {
  auto last = Window("1111111", "31", false, {});
  EXPECT_TRUE(last.Contains(At(kSunday + 25, 12, 0, 0)));   // 2026-12-31
  EXPECT_FALSE(last.Contains(At(kSunday + 24, 12, 0, 0)));  // 2026-12-30
  EXPECT_TRUE(Window("1111111", "0", false, {}).Contains(At(kSunday, 1, 0, 0)));
}

TEST(ScheduleWindowTest, RangesIncludeBothEndsAndMayRunPastMidnight) {
  auto day = Window("1111111", "", true, {"09:00:00 - 17:00:00"});
  EXPECT_TRUE(day.Contains(At(kSunday, 9, 0, 0)));
  EXPECT_TRUE(day.Contains(At(kSunday, 17, 0, 0)));
  EXPECT_FALSE(day.Contains(At(kSunday, 17, 0, 0, 1)));
  auto night = Window("1111111", "", true, {"22:00:00 - 06:00:00"});
  EXPECT_TRUE(night.Contains(At(kSunday, 23, 0, 0)));
  EXPECT_TRUE(night.Contains(At(kSunday, 6, 0, 0)));
  EXPECT_FALSE(night.Contains(At(kSunday, 12, 0, 0)));
  auto all_day = Window("1111111", "", true, {"08:00:00 - 08:00:00"});
  EXPECT_TRUE(all_day.Contains(At(kSunday, 3, 0, 0)));
}

TEST(ScheduleWindowTest, NextTurnIsJustPastABoundOrAtMidnight) {
  EXPECT_EQ(Window("1111111", "", false, {}).MsUntilChange(At(kSunday, 12, 0, 0)), -1);
  auto day = Window("1111111", "", true, {"09:00:00 - 17:00:00"});
  EXPECT_EQ(day.MsUntilChange(At(kSunday, 8, 59, 0)), 60001);
  EXPECT_EQ(day.MsUntilChange(At(kSunday, 12, 0, 0)), 5 * 3600000 + 1);
  EXPECT_FALSE(day.Contains(At(kSunday, 17, 0, 0, 1)));
  EXPECT_EQ(day.MsUntilChange(At(kSunday, 18, 0, 0)), 6 * 3600000);  // midnight
  EXPECT_EQ(Window("0111111", "", false, {}).MsUntilChange(At(kSunday, 23, 59, 59, 500)), 500);
}

TEST(ScheduleWindowTest, UnreadableRangesAreDroppedAndWorkHoursSwitchedOff) {
  std::vector<std::string> ranges = {"9:00 - 17:00", "10:00:00 - 11:00:00", "short"};
  ScheduleWindow w;
  w.Configure("1111111", "", true, ranges, RegionalSettings());
  EXPECT_EQ(ranges, std::vector<std::string>{"10:00:00 - 11:00:00"});
  EXPECT_TRUE(w.work_hours());
  EXPECT_FALSE(w.Contains(At(kSunday, 12, 0, 0)));

  std::vector<std::string> none = {"bad"};
  w.Configure("1111111", "", true, none, RegionalSettings());
  EXPECT_FALSE(w.work_hours());
  EXPECT_TRUE(w.Contains(At(kSunday, 12, 0, 0)));
}

TEST(ScheduleWindowTest, OneDigitHourWithSecondsIsReadOffByOne) {
  // "9:00:00 - 17:00:00": the start is read whole, the end loses its first
  // digit and becomes 07:00:00, so the range runs past midnight.
  std::vector<std::string> ranges = {"9:00:00 - 17:00:00"};
  ScheduleWindow w;
  w.Configure("1111111", "", true, ranges, RegionalSettings());
  ASSERT_EQ(w.bounds().size(), 2u);
  EXPECT_NEAR(w.bounds()[0], 9 / 24.0, 1e-9);
  EXPECT_NEAR(w.bounds()[1], 7 / 24.0, 1e-9);
}

}  // namespace
}  // namespace sentrel

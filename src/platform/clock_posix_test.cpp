// Daylight saving and time-zone changes as users meet them: real files with
// set times, the system's zone database, and the zone of a whole process
// changed under a running item.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <memory>

#include "fake_clock.h"
#include "hostile_files.h"
#include "monitor/chkdir.h"
#include "monitor/chkfile.h"
#include "private_mounts.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// Runs the test in a child process whose local time is that of `zone`.
#define SENTREL_RUN_IN_ZONE(zone)                     \
  SENTREL_RUN_IN_CHILD_PROCESS("SENTREL_TEST_IN_ZONE") \
  setenv("TZ", zone, 1);                              \
  tzset();

Instant Utc(int year, int month, int day, int hour, int minute) {
  return InstantOfUtcValue(DateTimeValue(year, month, day, hour, minute, 0, 0));
}

constexpr int64_t kHour = 3600;
constexpr int64_t kDay = 86400;

class ZoneTest : public ::testing::Test {
 protected:
  void SetTime(const std::string& name, Instant t) {
    ASSERT_TRUE(SetWriteTimeSeconds(tree_.Write(name), t / kNanosPerSecond));
  }
  template <typename T>
  std::shared_ptr<T> Item(std::vector<std::string> lines) {
    auto item = std::make_shared<T>(false, services_);
    for (auto& l : lines) l += "\n";
    item->ParseBlock(lines);
    return item;
  }
  std::vector<std::string> Reported(BaseMonitoring& item) {
    item.Check();
    std::vector<std::string> out;
    for (const FileData& f : item.ReportedFiles) {
      out.push_back(f.Name.substr(tree_.Root().size()) + ":" + std::to_string(f.State));
    }
    last_ = std::move(item.ReportedFiles);
    item.ReportedFiles.clear();
    return out;
  }

  TempDir tree_;
  Services services_;
  FileList last_;
};

// Sydney moves its clocks forward in October and back in April: the local
// difference of two times across either is an hour off the real one.
TEST_F(ZoneTest, AgeIsTheRealTimeSinceTheLastWrite) {
  SENTREL_RUN_IN_ZONE("Australia/Sydney");
  const Instant december = Utc(2021, 12, 1, 0, 0);
  const Instant may = Utc(2022, 5, 15, 0, 0);
  SetTime("spring", december - 70 * kDay * kNanosPerSecond);        // 70 days old in December
  SetTime("autumn", may - (70 * kDay + kHour) * kNanosPerSecond);  // 70 days 1 hour in May
  FakeClock clock = FakeClock::At(december);
  services_.clock = &clock;
  auto dir = Item<CheckDirThread>({"FileName=" + tree_.Root(), "ConditionType=1",
                                   "IgnoreAdded=0", "OlderInterval=" + std::to_string(70 * kDay + 1800)});
  EXPECT_THAT(Reported(*dir), IsEmpty());
  clock.Set(may);
  EXPECT_THAT(Reported(*dir), UnorderedElementsAre("spring:4", "autumn:4"));

  // A file item's first check: written 45 minutes before now, across the
  // April switch (local clocks show a quarter of an hour *after* now), is
  // not written within an interval of 30 minutes, so the item fires.
  SetTime("beat", Utc(2022, 4, 2, 15, 30));
  clock.Set(Utc(2022, 4, 2, 16, 15));
  auto file = Item<CheckFileThread>({"FileName=" + tree_.Sub("beat"), "Interval=1800"});
  EXPECT_EQ(file->Check(), 1);
}

// Berlin repeats 02:00 to 03:00 on the last Sunday of October: 02:30 CEST
// and 02:30 CET are an hour apart.
TEST_F(ZoneTest, ChangeInTheRepeatedHourIsReported) {
  SENTREL_RUN_IN_ZONE("Europe/Berlin");
  SetTime("f", Utc(2021, 10, 31, 0, 30));
  auto dir = Item<CheckDirThread>({"FileName=" + tree_.Root()});
  auto file = Item<CheckFileThread>({"FileName=" + tree_.Sub("f"), "IfChanged=1"});
  Reported(*dir);
  file->Check();
  SetTime("f", Utc(2021, 10, 31, 1, 30));
  EXPECT_THAT(Reported(*dir), ElementsAre("f:2"));
  EXPECT_EQ(file->Check(), 1);
  // Shown in local time, at the offset of its own moment.
  const LocalTime shown = LocalTimeFromValue(last_.at(0).Time);
  EXPECT_EQ(shown.hour * 100 + shown.minute, 230);
}

// Berlin moves from 02:00 CET to 03:00 CEST on the last Sunday of March and
// back from 03:00 CEST to 02:00 CET in October. A window that opens at 03:00
// opens three real seconds after 01:59:57 in March, and an hour and three
// seconds after 02:59:57 in October; the first check comes as it opens.
TEST_F(ZoneTest, WindowOpeningAcrossASwitchChecksAsItOpens) {
  SENTREL_RUN_IN_ZONE("Europe/Berlin");
  for (Instant start : {Utc(2021, 3, 28, 0, 59), Utc(2021, 10, 31, 0, 59)}) {
    const bool autumn = start > Utc(2021, 6, 1, 0, 0);
    SCOPED_TRACE(autumn ? "October" : "March");
    FakeClock clock = FakeClock::At(start + 57 * kNanosPerSecond);
    clock.ReadInProcessZone();
    services_.clock = &clock;
    auto item = Item<CheckDirThread>({"FileName=" + tree_.Root(), "Interval=3600", "WorkHours=1",
                                      "TimeInterval=03:00:00 - 03:30:00"});
    auto tracker = std::make_shared<ThreadTracker>();
    BaseMonitoring::Start(item, tracker);
    clock.RunFor(autumn ? 3600000 + 2000 : 2000);
    EXPECT_EQ(item->Status(), kStatusOutsideWindow);
    clock.RunFor(2000);
    EXPECT_NE(item->Status(), kStatusOutsideWindow);
    item->RequestTerminate();
    item.reset();
    EXPECT_TRUE(tracker->WaitIdle(20000));
  }
}

// The system's zone replaced while an item runs (a laptop that travels):
// its schedule window and the times it shows follow within a pass.
TEST_F(ZoneTest, NewSystemZoneIsTakenUpWhileRunning) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_TEST_ZONE_MOUNTS");
  unsetenv("TZ");
  tzset();
  if (!Exists("/etc/localtime")) GTEST_SKIP() << "no system zone to replace";
  ScopedMount utc, far_east;
  ASSERT_TRUE(utc.ReadOnlyBind("/usr/share/zoneinfo/Etc/UTC", "/etc/localtime"));

  // Three hours either side of the time of day in UTC; at UTC+12 that is
  // outside.
  const LocalTime now = LocalTimeFromValue(UtcValueOfInstant(SystemClock().RealNow()));
  auto at = [&](int hours_from_now) {
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d:00", (now.hour + 24 + hours_from_now) % 24, now.minute);
    return std::string(text);
  };
  auto item = Item<CheckDirThread>({"FileName=" + tree_.Root(), "Interval=1", "WorkHours=1",
                                    "TimeInterval=" + at(-3) + " - " + at(3)});
  auto tracker = std::make_shared<ThreadTracker>();
  BaseMonitoring::Start(item, tracker);
  EXPECT_TRUE(WaitUntil([&] { return item->Status() != kStatusReady; }));
  EXPECT_NE(item->Status(), kStatusOutsideWindow);

  ASSERT_TRUE(far_east.ReadOnlyBind("/usr/share/zoneinfo/Etc/GMT-12", "/etc/localtime"));
  EXPECT_TRUE(WaitUntil([&] { return item->Status() == kStatusOutsideWindow; }));
  EXPECT_EQ(LocalTimeFromValue(FileTimeToLocalDateTime(Utc(2021, 1, 1, 0, 0))).hour, 12);
  item->RequestTerminate();
  item.reset();
  EXPECT_TRUE(tracker->WaitIdle(20000));
}

}  // namespace
}  // namespace sentrel

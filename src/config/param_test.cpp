#include "config/param.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(ParamTest, LineMustStartWithNameDirectlyFollowedByEquals) {
  IntParam interval("Interval", 60, 1, 2147483647);
  EXPECT_TRUE(interval.ParseLine("interval=90\n"));
  EXPECT_EQ(interval.Value(), 90);
  EXPECT_FALSE(interval.ParseLine("Interval =5\n"));
  EXPECT_FALSE(interval.ParseLine(" Interval=5\n"));
  EXPECT_EQ(interval.Value(), 90);
}

TEST(ParamTest, IntegerTextFollowsCAtoiAndOutOfRangeTakesMinimum) {
  IntParam interval("Interval", 60, 1, 2147483647);
  interval.ParseLine("Interval=\n");
  EXPECT_EQ(interval.Value(), 1);
  interval.ParseLine("Interval=abc\n");
  EXPECT_EQ(interval.Value(), 1);
  interval.ParseLine("Interval=90x\n");
  EXPECT_EQ(interval.Value(), 90);
  interval.ParseLine("Interval=  +7\n");
  EXPECT_EQ(interval.Value(), 7);

  IntParam kind("IsDirectory", 0, 0, 2);
  kind.SetText("7");
  EXPECT_EQ(kind.Value(), 0);
  kind.SetText("-1");
  EXPECT_EQ(kind.Value(), 0);
  kind.SetText("2");
  EXPECT_EQ(kind.Value(), 2);
  EXPECT_EQ(AtoiLikeC("4294967297"), 1);  // wraps in 32 bits, as atoi does
}

TEST(ParamTest, BooleanIsOneOrTrueInAnyCase) {
  BoolParam run_once("RunOnce", false);
  const std::pair<const char*, bool> cases[] = {
      {"RunOnce=TRUE\n", true}, {"RunOnce=tRuE\n", true}, {"RunOnce=1\n", true},
      {"RunOnce=yes\n", false}, {"RunOnce=1 \n", false},  {"RunOnce=2\n", false},
      {"RunOnce=\n", false},
  };
  for (const auto& [line, expected] : cases) {
    run_once.Set(!expected);
    EXPECT_TRUE(run_once.ParseLine(line)) << line;
    EXPECT_EQ(run_once.Value(), expected) << line;
  }
}

TEST(ParamTest, BareNameWithoutLineFeedIsTakenButWithLineFeedIsNot) {
  BoolParam run_once("RunOnce", true);
  EXPECT_FALSE(run_once.ParseLine("RunOnce\n"));
  EXPECT_TRUE(run_once.Value());
  EXPECT_TRUE(run_once.ParseLine("RunOnce"));
  EXPECT_FALSE(run_once.Value());
  BoolParam wait("Wait", false);
  EXPECT_FALSE(wait.ParseLine("WaitUnlocking=1\n"));
}

TEST(ParamTest, StringKeepsBlanksAndIsLengthenedWithNonOneFiller) {
  StringParam days("Days", "1111111", 7);
  days.ParseLine("Days=101\n");
  ASSERT_EQ(days.Value().size(), 7u);
  EXPECT_EQ(days.Value().substr(0, 3), "101");
  EXPECT_EQ(days.Value().find('1', 3), std::string::npos);
  days.ParseLine("Days=111111111\n");
  EXPECT_EQ(days.Value(), "111111111");
  StringParam name("FileName", "");
  name.ParseLine("FileName= a b \r\n");
  EXPECT_EQ(name.Value(), " a b \r");
}

TEST(ParamTest, StringListAppendsEveryLineInOrder) {
  StringListParam ranges("TimeInterval");
  ranges.ParseLine("TimeInterval=b\n");
  ranges.ParseLine("TimeInterval=a\n");
  ranges.ParseLine("TimeInterval=a\n");
  EXPECT_EQ(ranges.Items(), (std::vector<std::string>{"b", "a", "a"}));
}

TEST(ParamTest, OfferLineGivesTheLineToTheEarliestTaker) {
  IntParam first("Interval", 60, 1, 100);
  IntParam second("Interval", 60, 1, 100);
  ParamList list = {&first, &second};
  EXPECT_TRUE(OfferLine(list, "Interval=5\n"));
  EXPECT_EQ(first.Value(), 5);
  EXPECT_EQ(second.Value(), 60);
  EXPECT_FALSE(OfferLine(list, "Other=5\n"));
}

TEST(ParamTest, AssignFromAppliesTheDestinationRange) {
  IntParam wide("X", 50, 0, 100), narrow("X", 5, 1, 10);
  narrow.AssignFrom(wide);
  EXPECT_EQ(narrow.Value(), 1);
  wide.AssignFrom(narrow);
  EXPECT_EQ(wide.Value(), 1);
}

TEST(ParamTest, WriteToWritesConfigurationLines) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  BoolParam b("RunOnce", true);
  StringListParam empty("TimeInterval");
  b.WriteTo(f);
  empty.WriteTo(f);
  std::rewind(f);
  char buf[256] = {};
  size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, n), "RunOnce=1\n");
}

}  // namespace
}  // namespace sentrel

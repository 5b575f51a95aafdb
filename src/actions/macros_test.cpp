#include "actions/macros.h"

#include <gtest/gtest.h>

#include <cmath>

#include "actions/date_format.h"
#include "fake_clock.h"
#include "platform/process.h"

namespace sentrel {
namespace {

// Tuesday 2024-03-05 14:07:09.250, local time.
const double kTuesdayAfternoon = DateTimeValue(2024, 3, 5, 14, 7, 9, 250);

struct Case {
  const char* text;
  const char* want;
};

class MacroTest : public ::testing::Test {
 protected:
  MacroTest() : clock_(DateTimeValue(2026, 12, 7, 8, 30, 0, 0)) { services_.clock = &clock_; }

  std::string Expand(const FileData& record, const std::string& text) {
    return ExpandForFile(record, text, services_);
  }
  void ExpectTable(const FileData& record, std::initializer_list<Case> cases) {
    for (const Case& c : cases) EXPECT_EQ(Expand(record, c.text), c.want) << "text: " << c.text;
  }

  FakeClock clock_;
  Services services_;
  FileData added_{"/data/a.txt", kTuesdayAfternoon, 1234, kStateAdded};
  FileData changed_{"/data/b.txt", kTuesdayAfternoon, 5, kStateChanged};
  FileData deleted_{"/data/c.txt", kTuesdayAfternoon, 0, kStateDeleted};
};

TEST_F(MacroTest, SyntaxOfNamesParametersAndStrayPercentSigns) {
  ExpectTable(added_, {
      {"plain text", "plain text"},
      {"%%File", "%File"},
      {"100%", "100"},
      {"%x", "x"},
      {"%file|%FILE|%File", "/data/a.txt|/data/a.txt|/data/a.txt"},
      {"%FileS", "/data/a.txtS"},           // the name is matched as a prefix
      {"%Size=\"ignored\"x", "1234x"},      // a parameter is read even when unused
      {"%Added=\"say \\\"hi\\\"\"", "say \"hi\""},
      {"%Added=\"a\\\\b\"", "a\\b"},
      {"%Added=\"unclosed", "unclosed"},
      {"%Added=\"ends in backslash\\", "ends in backslash"},
      {"%Added =\"x\"", " =\"x\""},           // "=" must follow the name directly
      {"%(", ""},
      {"%)", ")"},
      {"%", ""},
  });
}

TEST_F(MacroTest, PathPiecesSizeAndState) {
  ExpectTable(added_, {
      {"%Name", "a.txt"},
      {"%Path", "/data"},
      {"%File", "/data/a.txt"},
      {"%Size", "1234"},
      {"%Added=\"new \"%File", "new /data/a.txt"},
      {"%Changed=\"chg \"%Deleted=\"del \"%Name", "a.txt"},
  });
  ExpectTable(changed_, {{"%Added=\"new \"%Changed=\"chg \"%Name", "chg b.txt"}});
  ExpectTable(deleted_, {{"%Deleted=\"gone: \"%Name", "gone: c.txt"}});

  FileData top{"/a.txt", 0, -5, kStateNone};
  ExpectTable(top, {{"[%Path]", "[]"}, {"%Name", "a.txt"}, {"%Size", "-5"}});
  FileData bare{"noslash", 0, 5'000'000'000, kStateNone};
  ExpectTable(bare, {{"[%Path]", "[]"}, {"%Name", "noslash"}, {"%Size", "5000000000"}});
  // Linux names may hold a backslash: it is no separator.
  FileData odd{"/data/x\\y.txt", 0, 0, kStateNone};
  ExpectTable(odd, {{"%Name", "x\\y.txt"}, {"%File=\"N\"", "x\\y"}});
  // The placeholder splits at its own backslash: no piece of it is a path.
  ExpectTable(PlaceholderRecord(), {{"%Path/*", "[D:]\\[P]/*"},
                                    {"%Name", "[N].[E]"},
                                    {"%File=\"P|N|E|S:2\"", "[D:]\\[P]|[N]|[E]|[P]"}});
}

TEST_F(MacroTest, FileTemplate) {
  FileData deep{"/data/logs/2000/a.txt", 0, 0, kStateNone};
  ExpectTable(deep, {
      {"%File=\"'/backup/'N.E\"", "/backup/a.txt"},
      {"%File=\"'/bak\\up/'N.E\"", "/bakup/a.txt"},  // a single backslash is dropped
      {"%File=\"P|N|E|D\"", "data/logs/2000|a|txt|"},
      {"%File=\"S:1\"", "data/logs/2000"},
      {"%File=\"S:2\"", "logs/2000"},
      {"%File=\"S:3\"", "2000"},
      {"%File=\"S:9\"", ""},
      {"%File=\"S:0\"", ""},
      {"%File=\"S:\"", ""},
      {"%File=\"Sx\"", "x"},
      {"%File=\"n.old\"", "a.ol"},         // letters are fields in any case
      {"%File=\"N'.old'\"", "a.old"},
      {"%File=\"N'x\"", "a'x"},            // an unmatched quote is itself
      {"%File=\"/P/N.E\"", "/data/logs/2000/a.txt"},
  });
  FileData drive{"C:/data/a.b.txt", 0, 0, kStateNone};
  ExpectTable(drive, {{"%File=\"D|P|N|E\"", "C:|data|a.b|txt"}});
  FileData hidden{"/home/u/.profile", 0, 0, kStateNone};
  ExpectTable(hidden, {{"%File=\"N|E\"", "|profile"}});
  FileData parent{"/home/u/..", 0, 0, kStateNone};
  ExpectTable(parent, {{"%File=\"P|N|E\"", "home/u|..|"}});
}

TEST_F(MacroTest, CharacterMacroTakesTheLowEightBitsOfAnAtoiNumber) {
  ExpectTable(added_, {
      {"%Chr=\"65\"", "A"},
      {"%Chr=\"321\"", "A"},
      {"%Chr=\"-191\"", "A"},
      {"%Chr=\"  +66x\"", "B"},
      {"%Chr=\"0\"", ""},
      {"%Chr=\"256\"", ""},
      {"%Chr", ""},
  });
}

TEST_F(MacroTest, TimesOfTheRecordAndOfTheClock) {
  ExpectTable(added_, {
      {"%Time=\"yyyy-mm-dd hh:nn\"", "2024-03-05 14:07"},
      {"%Time", "03/05/2024 14:07:09"},
      {"%SysDate=\"yyyy-mm-dd hh:nn:ss\"", "2026-12-07 08:30:00"},
      {"%SysDate", "12/07/2026 08:30:00"},
  });
  FileData midnight{"/m", DateTimeValue(2024, 3, 5, 0, 0, 0, 400), 0, kStateNone};
  ExpectTable(midnight, {{"%Time", "03/05/2024"}});
  ExpectTable(PlaceholderRecord(), {{"%Time=\"yyyy-mm-dd hh:nn\"", "1899-12-29 00:00"}});
  for (double bad : {std::nan(""), 1e12, -1e12, HUGE_VAL}) {
    FileData record{"/x", bad, 0, kStateNone};
    EXPECT_EQ(Expand(record, "[%Time=\"yyyy\"]"), "[[time]]") << bad;
  }
}

TEST_F(MacroTest, LongTextsAreNeverCut) {
  std::string dir = "/";
  while (dir.size() < 5000) dir += "long-directory-name/";
  FileData record{dir + "file.txt", 0, 0, kStateNone};
  EXPECT_EQ(Expand(record, "%File"), record.Name);
  EXPECT_EQ(Expand(record, "%Name"), "file.txt");
  EXPECT_EQ(Expand(record, "%Path"), dir.substr(0, dir.size() - 1));
  EXPECT_EQ(Expand(record, "%File=\"'/x/'S:1\"").size(), dir.size() - 2 + 3);
  const std::string long_text(6000, 'x');
  EXPECT_EQ(Expand(record, long_text), long_text);
  EXPECT_EQ(Expand(record, long_text + "%Name"), long_text + "file.txt");
}

std::string Format(std::string_view pattern, double value,
                   const RegionalSettings& regional = RegionalSettings()) {
  std::string out;
  EXPECT_TRUE(FormatDateTime(out, pattern, value, regional));
  return out;
}

TEST(DateFormatTest, PatternTokens) {
  const Case cases[] = {
      {"yyyy-mm-dd", "2024-03-05"},
      {"y yy yyy", "24 24 2024"},
      {"d dd ddd dddd", "5 05 Tue Tuesday"},
      {"ddddd", "03/05/2024"},
      {"dddddd", "Tuesday, March 5, 2024"},
      {"m mm mmm mmmm mmmmm", "3 03 Mar March March"},
      {"hh:mm", "14:07"},          // "m" after an hour is the minute
      {"hh:mm:mm", "14:07:03"},    // but not after another minute
      {"h:n:s hhh", "14:7:9 14"},
      {"Dd", "55"},                // a run is one character in one letter case
      {"hh:nn:ss am/pm", "02:07:09 pm"},
      {"hh AM/PM", "02 PM"},
      {"h a/p", "2 p"},
      {"h A/P", "2 P"},
      {"hh ampm", "02 PM"},
      {"AM/PM hh", "PM 02"},       // once seen, every later hour is on 12 hours
      {"hh 'am/pm'", "14 am/pm"},  // quoted text is no designator
      {"hh dd am/pm", "02 05 pm"},
      {"hh hh am/pm", "14 02 pm"},
      {"t|tt", "14:07|14:07:09"},
      {"h AM/PM|t|tt|c", "2 PM|14:07|14:07:09|03/05/2024 14:07:09"},  // each keeps its clock
      {"c", "03/05/2024 14:07:09"},
      {"", "03/05/2024 14:07:09"},
      {"'yyyy' \"mm\" 'unclosed", "yyyy mm unclosed"},
      {"aaa aaaa a", "Tue Tuesday a"},
      {"e|g", "2024|"},
      {"z x 1 - ,", "z x 1 - ,"},  // no token for fractions of a second
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.text, kTuesdayAfternoon), c.want) << "pattern: " << c.text;
  }
  const double half_past_midnight = DateTimeValue(2024, 3, 5, 0, 30, 0, 0);
  EXPECT_EQ(Format("h:nn am/pm", half_past_midnight), "12:30 am");
  EXPECT_EQ(Format("h:nn am/pm", DateTimeValue(2024, 3, 5, 12, 0, 0, 0)), "12:00 pm");
}

TEST(DateFormatTest, RegionalSettingsArePassedIn) {
  RegionalSettings de;
  de.short_date = "dd.mm.yyyy";
  de.long_date = "dddd, d. mmmm yyyy";
  de.long_time = "hh:nn:ss";
  de.date_separator = '.';
  de.time_separator = '.';
  de.long_day_names[2] = "Dienstag";
  de.long_month_names[2] = "März";
  de.am = "vorm.";
  de.pm = "nachm.";
  // ":" in a regional format is the regional time separator too.
  EXPECT_EQ(Format("c", kTuesdayAfternoon, de), "05.03.2024 14.07.09");
  EXPECT_EQ(Format("dddddd", kTuesdayAfternoon, de), "Dienstag, 5. März 2024");
  EXPECT_EQ(Format("yyyy/mm/dd hh:nn", kTuesdayAfternoon, de), "2024.03.05 14.07");
  EXPECT_EQ(Format("h ampm", kTuesdayAfternoon, de), "2 nachm.");
  // A regional 12-hour time keeps to itself.
  RegionalSettings us;
  us.short_time = "h:nn ampm";
  EXPECT_EQ(Format("t|hh", kTuesdayAfternoon, us), "2:07 PM|14");

  // A regional format that names itself stops instead of recursing forever.
  RegionalSettings loop;
  loop.short_date = "ddddd";
  EXPECT_EQ(Format("<ddddd>", kTuesdayAfternoon, loop), "<>");
}

class BatchTest : public MacroTest {
 protected:
  BatchTest() {
    for (char c = 'a'; c <= 'e'; ++c) {
      files_.emplace_back(std::string("/d/") + c, 0.0, c - 'a', kStateAdded);
    }
  }
  FileList First(size_t n) { return FileList(files_.begin(), files_.begin() + n); }

  FileList files_;
};

TEST_F(BatchTest, GroupsRepeatPerRecordAndSegmentsDescribeTheFirst) {
  const FileList three = First(3);
  std::string out;
  EXPECT_EQ(ExpandForBatch(three, out, "%(%File;%)", 0, 0, services_), 3);
  EXPECT_EQ(out, "/d/a;/d/b;/d/c;");
  out = "kept:";
  EXPECT_EQ(ExpandForBatch(three, out, "%File %File", 0, 0, services_), 3);
  EXPECT_EQ(out, "kept:/d/a /d/a");
  out.clear();
  EXPECT_EQ(ExpandForBatch(First(2), out, "/c copy %(\"%File\" %)", 0, 0, services_), 2);
  EXPECT_EQ(out, "/c copy \"/d/a\" \"/d/b\" ");
  out.clear();
  ExpandForBatch(three, out, "x%%y %q %(%Name,", 0, 0, services_);  // unclosed group
  EXPECT_EQ(out, "x%y q a,b,c,");
  out.clear();
  ExpandForBatch(three, out, "100%", 0, 0, services_);
  EXPECT_EQ(out, "100");
}

TEST_F(BatchTest, StartAndCountSelectTheBatch) {
  struct Step {
    int start, count, returned;
    const char* text;
  };
  const Step steps[] = {
      {0, 2, 2, "/d/a,/d/b,"}, {2, 2, 2, "/d/c,/d/d,"}, {4, 2, 1, "/d/e,"},
      {3, 0, 2, "/d/d,/d/e,"}, {5, 1, 1, ""},           {-1, 1, 1, ""},
  };
  for (const Step& s : steps) {
    std::string out;
    EXPECT_EQ(ExpandForBatch(files_, out, "%(%File,%)", s.start, s.count, services_), s.returned)
        << s.start;
    EXPECT_EQ(out, s.text) << s.start;
  }
}

TEST_F(BatchTest, EmptyListStandsOnThePlaceholderOnce) {
  const FileList none;
  std::string out;
  EXPECT_EQ(ExpandForBatch(none, out, "%File", 0, 0, services_), 1);
  EXPECT_EQ(out, "[D:]\\[P]\\[N].[E]");
  out.clear();
  EXPECT_EQ(ExpandForBatch(none, out, "%(<%Size>%) %Time=\"yyyy\"", 0, 5, services_), 1);
  EXPECT_EQ(out, "<0> 1899");
}

TEST_F(BatchTest, APercentInsideAParameterEndsTheSegment) {
  std::string out;
  ExpandForBatch(First(1), out, "%Added=\"50%\"", 0, 0, services_);
  EXPECT_EQ(out, "50\"");
  FileList changed = {changed_};
  out.clear();
  ExpandForBatch(changed, out, "%Added=\"50%\"", 0, 0, services_);
  EXPECT_EQ(out, "\"");
}

TEST_F(BatchTest, FileTextIsMarkedSoItStaysInsideItsArgument) {
  FileList hostile = {{"/in/x\" \"--rm 'y' $(id) z\\", 0, 7, kStateAdded},
                      {"/in/two words", 0, 8, kStateAdded}};
  MarkedText out;
  EXPECT_EQ(ExpandForBatch(hostile, out, "-o \"%File\" %(%Name %)%Chr=\"34\"%Size\"", 0, 0,
                           services_),
            2);
  ASSERT_EQ(out.literal.size(), out.text.size());
  EXPECT_EQ(SplitArguments(out.text, out.literal),
            (std::vector<std::string>{"-o", hostile[0].Name, "x\" \"--rm 'y' $(id) z\\",
                                      "two words", "7"}));
}

}  // namespace
}  // namespace sentrel

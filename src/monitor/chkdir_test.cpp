#include "monitor/chkdir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "check_dir_fixture.h"
#include "loader/monitor_process.h"
#include "fake_clock.h"
#include "file_holder.h"
#include "platform/file_ops.h"
#include "platform/open_files.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using std::chrono::hours;
using std::chrono::seconds;

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

TEST_F(CheckDirTest, ConfigureNormalisesTheRoot) {
  auto empty = Item({"FileName="});
  EXPECT_EQ(empty->FileName().Value(), fs::current_path().string() + kPathSeparator);
  auto plain = Item({"FileName=/srv/data"});
  EXPECT_EQ(plain->FileName().Value(), NativeSeparators("/srv/data/"));
  auto slashed = Item({"FileName=/srv/data/"});
  EXPECT_EQ(slashed->FileName().Value(), NativeSeparators("/srv/data/"));
}

TEST_F(CheckDirTest, InvalidMaskFailsTheBlockWithItsPosition) {
  try {
    Item({"Mask=*.txt;a[]"});
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "'a[]' is an invalid mask at (3)");
  }
  EXPECT_THROW(Item({"ExclDirMask=[abc"}), InvalidMask);
}

// The tree before: a, c. Then b is added, a's time is set back and c is
// deleted.
TEST_F(CheckDirTest, ConditionsChooseWhatCounts) {
  struct Row {
    const char* conditions;
    bool store_prev;
    bool inverse;
    uint8_t outcome;
    std::vector<std::string> reported;
  };
  const Row rows[] = {
      {"1100", false, false, 1, {"a:2", "b:1"}},
      {"1000", false, false, 1, {"a:2"}},
      {"0100", false, false, 1, {"b:1"}},
      {"1", false, false, 1, {"a:2"}},  // read as "1000"
      {"0010", false, false, 1, {}},    // a deletion counts but has no name
      {"0010", true, false, 1, {"c:3"}},
      {"0001", true, false, 1, {"a:2", "b:1", "c:3"}},
      {"0000", true, false, 0, {}},
      {"1100", false, true, 0, {"a:2", "b:1"}},  // found, so inverted: no
      {"00101", true, false, 1, {"c:3"}},        // beyond the fourth: ignored
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.conditions) + (row.store_prev ? " store" : "") +
                 (row.inverse ? " inverse" : ""));
    fs::remove_all(tree_.Path(""));
    fs::create_directories(tree_.Path(""));
    tree_.Write("a", "aaa");
    tree_.Write("c", "ccccc");
    auto item = Item({std::string("Conditions=") + row.conditions,
                      std::string("StorePrevInfo=") + (row.store_prev ? "1" : "0"),
                      std::string("Inverse=") + (row.inverse ? "1" : "0")});
    uint8_t outcome = 9;
    EXPECT_THAT(Check(*item, &outcome), IsEmpty());
    EXPECT_EQ(outcome, 0) << "the baseline never fires";

    tree_.Write("b");
    tree_.Touch("a", seconds(-100));
    fs::remove(tree_.Path("c"));
    EXPECT_THAT(Check(*item, &outcome), UnorderedElementsAreArray(row.reported));
    EXPECT_EQ(outcome, row.outcome);
    for (const FileData& f : last_) {
      if (f.State == kStateDeleted) {
        EXPECT_EQ(f.Size, 5);
        EXPECT_GT(f.Time, 0.0);
      }
    }
    // Nothing new: nothing reported (and inverted, that fires).
    EXPECT_THAT(Check(*item, &outcome), IsEmpty());
    EXPECT_EQ(outcome, row.inverse ? 1 : 0);
  }
}

TEST_F(CheckDirTest, OnlyTheLastWriteTimeMakesAChange) {
  tree_.Write("a", "short");
  // A whole second, which every way of reading it back keeps.
  const auto when = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(tree_.Path("a")));
  fs::last_write_time(tree_.Path("a"), when);
  auto item = Item({"Conditions=1110", "StorePrevInfo=1"});
  Check(*item);
  tree_.Write("a", "much longer content");
  fs::last_write_time(tree_.Path("a"), when);
  EXPECT_THAT(Check(*item), IsEmpty());

  fs::rename(tree_.Path("a"), tree_.Path("b"));  // a new name is a new path
  EXPECT_THAT(Check(*item), UnorderedElementsAre("b:1", "a:3"));
}

TEST_F(WalkTest, MasksAndSwitchesChooseTheEntries) {
  struct Row {
    std::vector<std::string> lines;
    std::vector<std::string> recorded;
  };
  const Row rows[] = {
      {{}, {"a.txt", "README", ".hidden", "link"}},
      {{"Mask=*.*"}, {"a.txt", ".hidden"}},
      {{"ExcludeMask=*.txt;.*"}, {"README", "link"}},
      {{"CountHidden=0"}, {"a.txt", "README", "link"}},
      {{"Subdir=1"},
       {"a.txt", "README", ".hidden", "link", "sub/b.txt", "sub/deep/c.txt", ".hdir/d.txt",
        "skip/e.txt"}},
      {{"Subdir=1", "ExclDirMask=skip;DEEP"},
       {"a.txt", "README", ".hidden", "link", "sub/b.txt", ".hdir/d.txt"}},
      {{"Subdir=1", "DirMask=s*"}, {"a.txt", "README", ".hidden", "link", "sub/b.txt", "skip/e.txt"}},
      {{"Subdir=1", "DirMask="}, {"a.txt", "README", ".hidden", "link"}},
      {{"DirMonitoring=1"}, {"a.txt", "README", ".hidden", "link", "sub", ".hdir", "skip"}},
      {{"DirMonitoring=1", "Mask="}, {"sub", ".hdir", "skip"}},
      {{"DirMonitoring=1", "Subdir=1", "CountHidden=0", "ExclDirMask=skip", "Mask=*.txt"},
       {"a.txt", "sub/b.txt", "sub/deep/c.txt", "sub/deep", "sub", "skip"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::PrintToString(row.lines));
    std::vector<std::string> names;
    for (const std::string& r : Walked(row.lines)) names.push_back(r.substr(0, r.rfind(':')));
    std::vector<std::string> recorded = row.recorded;
    if (!has_link_) recorded.erase(std::remove(recorded.begin(), recorded.end(), "link"), recorded.end());
    EXPECT_THAT(names, UnorderedElementsAreArray(recorded));
  }
}

TEST_F(WalkTest, SubdirectoryContentComesBeforeItsOwnEntry) {
  std::vector<std::string> names;
  for (const std::string& r : Walked({"DirMonitoring=1", "Subdir=1"})) {
    names.push_back(r.substr(0, r.rfind(':')));
  }
  auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
  EXPECT_LT(at("sub/deep/c.txt"), at("sub/deep"));
  EXPECT_LT(at("sub/deep"), at("sub"));
  EXPECT_LT(at("sub/b.txt"), at("sub"));
  EXPECT_LT(at("skip/e.txt"), at("skip"));
}

TEST_F(CheckDirTest, MissingRootIsAnEmptyTree) {
  auto missing = Item({"FileName=" + tree_.Root() + "nowhere", "Conditions=1111"});
  EXPECT_THAT(Check(*missing), IsEmpty());
  uint8_t outcome = 9;
  EXPECT_THAT(Check(*missing, &outcome), IsEmpty());
  EXPECT_EQ(outcome, 0);

  // A root that disappears: everything it held counts as deleted.
  tree_.Write("gone/a");
  tree_.Write("gone/b");
  auto item = Item({"FileName=" + tree_.Root() + "gone", "Conditions=0010", "StorePrevInfo=1"});
  Check(*item);
  fs::remove_all(tree_.Path("gone"));
  EXPECT_THAT(Check(*item, &outcome), UnorderedElementsAre("gone/a:3", "gone/b:3"));
  EXPECT_EQ(outcome, 1);
}

TEST_F(CheckDirTest, BreakReportsOnlyTheFirstAndNoFalseDeletion) {
  for (const char* name : {"p", "q", "r"}) tree_.Write(name);
  auto item = Item({"Break=1", "Conditions=1110", "StorePrevInfo=1"});
  Check(*item);
  for (const char* name : {"n1", "n2", "n3"}) tree_.Write(name);
  uint8_t outcome = 0;
  const auto reported = Check(*item, &outcome);
  EXPECT_EQ(outcome, 1);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_THAT(reported[0], ::testing::EndsWith(":1"));
  // The others were recorded: they are not reported later, and the files
  // walked after the first report were not taken for deleted ones.
  EXPECT_THAT(Check(*item, &outcome), IsEmpty());
  EXPECT_EQ(outcome, 0);
}

TEST_F(CheckDirTest, AgeRuleReportsOldFilesAtEveryCheck) {
  FakeClock clock = FakeClock::At(SystemClock().RealNow());
  services_.clock = &clock;
  tree_.Write("old");
  tree_.Touch("old", -hours(2));
  tree_.Write("young");
  tree_.Touch("young", -seconds(59 * 60));
  auto item = Item({"ConditionType=1", "OlderInterval=3600", "IgnoreAdded=0", "Inverse=1"});
  uint8_t outcome = 0;
  EXPECT_THAT(Check(*item, &outcome), ElementsAre("old:4"));
  EXPECT_EQ(outcome, 1);
  fs::remove(tree_.Path("old"));
  EXPECT_THAT(Check(*item, &outcome), IsEmpty()) << "no deletions in age detection";
  EXPECT_EQ(outcome, 0) << "and no inversion";
  EXPECT_EQ(item->SnapshotSize(), 0u) << "nothing to remember without IgnoreAdded";
}

TEST_F(CheckDirTest, IgnoreAddedCountsAgeFromFirstSight) {
  const Instant now = SystemClock().RealNow();
  FakeClock clock = FakeClock::At(now);
  services_.clock = &clock;
  tree_.Write("known");
  tree_.Touch("known", -hours(2));
  auto item = Item({"ConditionType=1", "OlderInterval=3600"});
  EXPECT_THAT(Check(*item), ElementsAre("known:4"));

  tree_.Write("copied");  // an old file copied in keeps its old time
  tree_.Touch("copied", -hours(3));
  EXPECT_THAT(Check(*item), ElementsAre("known:4"));
  clock.Set(now + 1800 * kNanosPerSecond);
  EXPECT_THAT(Check(*item), ElementsAre("known:4"));
  clock.Set(now + 3700 * kNanosPerSecond);
  EXPECT_THAT(Check(*item), UnorderedElementsAre("known:4", "copied:4"));
}

TEST_F(CheckDirTest, FilesInUseWaitUntilReleased) {
  tree_.Write("a", "1");
  auto item = Item({"IgnoreOpened=1", "DirMonitoring=1", "Conditions=1110", "StorePrevInfo=1"});
  Check(*item);
  tree_.Write("b", "2");
  tree_.Touch("a", seconds(-50));
  tree_.MakeDir("dir");

  {
    FileHolder hold_a(tree_.Sub("a")), hold_b(tree_.Sub("b"));
    ASSERT_TRUE(hold_a.Started() && hold_b.Started());
    EXPECT_THAT(Check(*item), IsEmpty());
    EXPECT_THAT(Check(*item), IsEmpty());
  }

  // Released: reported now, not lost; a directory never counts as free.
  EXPECT_THAT(Check(*item), UnorderedElementsAre("a:2", "b:1"));
  EXPECT_THAT(Check(*item), IsEmpty());
}

TEST_F(CheckDirTest, ShippedSampleWatchesTheCurrentDirectoryInRealTime) {
  // The file as shipped, from the source tree (the build copies it beside
  // the program only when the program is linked again).
  const std::string sample = AbsolutePath(
      (fs::path(__FILE__).parent_path().parent_path().parent_path() / "conf" / "default.mon")
          .string());
  const fs::path saved = fs::current_path();
  fs::current_path(tree_.Path(""));
  {
    MonitorProcess process(services_);
    ASSERT_TRUE(process.Load(sample));
    ASSERT_EQ(process.Monitors().size(), 1u);
    auto* item = dynamic_cast<CheckDirThread*>(process.Monitors()[0].get());
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(fs::path(item->FileName().Value()), fs::current_path() / "");
    EXPECT_TRUE(WaitUntil([&] { return item->WatcherRunning(); }));
    process.StopAll();
    EXPECT_TRUE(process.WaitStopped(5000));
  }
  fs::current_path(saved);
}

}  // namespace
}  // namespace sentrel

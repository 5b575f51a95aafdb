#include "monitor/chkfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "fake_clock.h"
#include "file_holder.h"
#include "platform/file_lookup.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

class CheckFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "sentrel-chkfile-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/heartbeat.txt";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // An item watching `path_` with the given extra block lines.
  std::unique_ptr<CheckFileThread> Item(std::vector<std::string> lines = {}) {
    auto item = std::make_unique<CheckFileThread>(false, services_);
    lines.insert(lines.begin(), "FileName=" + path_ + "\n");
    item->ParseBlock(lines);
    return item;
  }

  // Writes the file and dates its last write `age` before now.
  void Write(const std::string& path, seconds age, const std::string& text = "beat\n") {
    std::ofstream(path, std::ios::trunc) << text;
    SetAge(path, age);
  }
  static void SetAge(const std::string& path, seconds age) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
  }
  static double LocalWriteTime(const std::string& path) {
    FoundFile f;
    EXPECT_TRUE(StatFile(path, f));
    return FileTimeToLocalDateTime(f.mtime_sec, f.mtime_nsec);
  }
  // One pass of the loop as far as the check goes: the check, then the
  // records dropped as the loop drops them.
  static FileList CheckAndTake(CheckFileThread& item, uint8_t* result) {
    *result = item.Check();
    FileList files = item.ReportedFiles;
    item.ReportedFiles.clear();
    return files;
  }

  Services services_;
  std::string dir_;
  std::string path_;
};

TEST_F(CheckFileTest, ByDefaultFiresWhileTheFileIsNotWritten) {
  Write(path_, seconds(7200), "12345");
  auto item = Item();
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);  // two hours old on the first check: not written
  EXPECT_EQ(item->Status(), kFileFired);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, path_);
  EXPECT_EQ(files[0].Size, 5);
  EXPECT_EQ(files[0].State, kStateNone);
  EXPECT_EQ(files[0].Time, LocalWriteTime(path_));

  EXPECT_EQ(item->Check(), 1);  // still unchanged
  item->ReportedFiles.clear();

  SetAge(path_, seconds(3600));
  files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(files.empty());
  EXPECT_EQ(item->Status(), kFileNotFired);

  EXPECT_EQ(item->Check(), 1);  // quiet again since that write
}

TEST_F(CheckFileTest, IfChangedFiresOnAWriteWithChangedState) {
  Write(path_, seconds(7200));
  auto item = Item({"IfChanged=1\n"});
  uint8_t fired;
  CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(item->Status(), kFileNotFired);

  Write(path_, seconds(10), "longer text\n");
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].State, kStateChanged);
  EXPECT_EQ(files[0].Size, 12);
  EXPECT_EQ(files[0].Time, LocalWriteTime(path_));

  CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 0);
}

TEST_F(CheckFileTest, SaveByRenameOverTheFileIsAWrite) {
  Write(path_, seconds(7200));
  auto item = Item({"IfChanged=1\n"});
  EXPECT_EQ(item->Check(), 0);

  const std::string temp = dir_ + "/.heartbeat.txt.swp";
  Write(temp, seconds(5), "saved\n");
  fs::rename(temp, path_);
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, path_);
  EXPECT_EQ(files[0].Size, 6);
}

// The first check has no earlier time to compare with: the file's age against
// the interval decides.
TEST_F(CheckFileTest, FirstCheckJudgesTheFileByItsAge) {
  Write(path_, seconds(0));
  const double written = LocalWriteTime(path_);
  struct Case {
    double clock_offset_s;
    uint8_t fired_default;
    uint8_t fired_if_changed;
  } cases[] = {
      {30, 0, 1},     // within the interval: written
      {61, 1, 0},     // older than the interval: not written
      {-3600, 0, 1},  // dated in the future: written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clock_offset_s);
    FakeClock clock(written + c.clock_offset_s / 86400.0);
    services_.clock = &clock;
    EXPECT_EQ(Item()->Check(), c.fired_default);
    EXPECT_EQ(Item({"IfChanged=1\n"})->Check(), c.fired_if_changed);
  }
  services_.clock = &SystemClock();
}

TEST_F(CheckFileTest, MissingFileFiresWithoutRecordUnlessMustExistIsOff) {
  auto item = Item();
  for (int i = 0; i < 2; ++i) {
    uint8_t fired;
    FileList files = CheckAndTake(*item, &fired);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(item->Status(), kFileMissing);
  }
  EXPECT_EQ(Item({"MustExist=0\n"})->Check(), 0);
  // An empty name is a missing file, not the current directory.
  auto unnamed = std::make_unique<CheckFileThread>(false, services_);
  unnamed->ParseBlock({});
  EXPECT_EQ(unnamed->Check(), 1);
  EXPECT_EQ(unnamed->Status(), kFileMissing);
}

TEST_F(CheckFileTest, FileThatComesBackIsReportedAsAdded) {
  uint8_t fired;
  {
    // Written while it was away: fires with IfChanged, as added.
    Write(path_, seconds(7200));
    auto item = Item({"IfChanged=1\n"});
    item->Check();
    fs::remove(path_);
    EXPECT_EQ(item->Check(), 1);  // missing, MustExist
    Write(path_, seconds(60));
    FileList files = CheckAndTake(*item, &fired);
    EXPECT_EQ(fired, 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].State, kStateAdded);
  }
  {
    // Back with the very time it had: fires by default, as added.
    Write(path_, seconds(7200));
    auto item = Item();
    item->Check();
    item->ReportedFiles.clear();
    const auto kept = fs::last_write_time(path_);
    fs::remove(path_);
    item->Check();
    Write(path_, seconds(0));
    fs::last_write_time(path_, kept);
    FileList files = CheckAndTake(*item, &fired);
    EXPECT_EQ(fired, 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].State, kStateAdded);

    // Back with a new time: written, so the default item stays quiet.
    fs::remove(path_);
    item->Check();
    Write(path_, seconds(30));
    EXPECT_EQ(item->Check(), 0);
  }
}

TEST_F(CheckFileTest, IgnoreFirstSilencesOnlyTheFirstCheck) {
  auto item = Item({"IgnoreFirst=1\n"});
  EXPECT_EQ(item->Check(), 0);  // missing, yet silent
  EXPECT_EQ(item->Status(), kFileMissing);
  EXPECT_EQ(item->Check(), 1);
}

TEST_F(CheckFileTest, HugeSizeAndLongPathAreKeptWhole) {
  std::string deep = dir_;
  for (int i = 0; i < 3; ++i) deep += "/" + std::string(120, static_cast<char>('a' + i));
  fs::create_directories(deep);
  path_ = deep + "/big.bin";
  std::ofstream(path_).close();
  const int64_t five_gib = int64_t{5} << 30;
  fs::resize_file(path_, static_cast<uintmax_t>(five_gib));  // sparse: takes no space
  SetAge(path_, seconds(7200));

  auto item = Item();
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_GT(files[0].Name.size(), 300u);
  EXPECT_EQ(files[0].Name, path_);
  EXPECT_EQ(files[0].Size, five_gib);
}

TEST_F(CheckFileTest, NameWithMaskCharactersThatExistsIsThatFile) {
  path_ = dir_ + "/odd*name?[1].txt";
  Write(path_, seconds(7200));
  auto item = Item();
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, path_);
}

TEST_F(CheckFileTest, MaskInTheLastComponentStandsForTheFileFoundOnDisk) {
  Write(dir_ + "/notes.md", seconds(7200));
  Write(dir_ + "/Backup-2026.TAR", seconds(7200), "archive");
  path_ = dir_ + "/backup-*.tar";
  auto item = Item();
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].Name, dir_ + "/Backup-2026.TAR");
  EXPECT_EQ(files[0].Size, 7);

  // No match, an invalid mask and a mask before the last component all find
  // nothing: the file is missing.
  for (const char* name : {"/*.zip", "/backup-[", "/*/notes.md"}) {
    SCOPED_TRACE(name);
    path_ = dir_ + name;
    auto missing = Item();
    EXPECT_EQ(missing->Check(), 1);
    EXPECT_EQ(missing->Status(), kFileMissing);
  }
}

// --- Files that another process holds open ---------------------------------

TEST_F(CheckFileTest, CheckLockingHoldsBackWhileTheFileIsOpenElsewhere) {
  Write(path_, seconds(7200));
  auto plain = Item();
  auto locking = Item({"CheckLocking=1\n"});
  {
    FileHolder holder(path_);
    ASSERT_TRUE(holder.Started());
    EXPECT_EQ(plain->Check(), 1);
    EXPECT_EQ(locking->Check(), 0);
    locking->ReportedFiles.clear();
    EXPECT_EQ(locking->Check(), 0);
    locking->ReportedFiles.clear();
  }
  uint8_t fired;
  FileList files = CheckAndTake(*locking, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].State, kStateNone);
}

// A write seen while the writer still had the file open is not lost: it is
// reported at the first check after the file is released.
TEST_F(CheckFileTest, WriteHeldBackByALockIsReportedOnceReleased) {
  Write(path_, seconds(7200));
  auto item = Item({"IfChanged=1\n", "CheckLocking=1\n"});
  EXPECT_EQ(item->Check(), 0);
  {
    FileHolder writer(path_, /*write=*/true);
    ASSERT_TRUE(writer.Started());
    Write(path_, seconds(20), "new content\n");
    EXPECT_EQ(item->Check(), 0);
    item->ReportedFiles.clear();
  }
  uint8_t fired;
  FileList files = CheckAndTake(*item, &fired);
  EXPECT_EQ(fired, 1);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].State, kStateChanged);
  EXPECT_EQ(files[0].Size, 12);
  EXPECT_EQ(item->Check(), 0);  // reported once
}

TEST_F(CheckFileTest, WaitUnlockingFiresWhenTheFileIsReleased) {
  Write(path_, seconds(7200));
  auto item = Item({"CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  auto check = std::async(std::launch::async, [&] { return item->Check(); });
  // Still waiting while the file is held.
  EXPECT_EQ(check.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  // The holder writes on its way out: the record carries the file as released.
  std::ofstream(path_, std::ios::app) << "last words\n";
  holder.Release();
  ASSERT_EQ(check.wait_for(seconds(20)), std::future_status::ready);
  EXPECT_EQ(check.get(), 1);
  ASSERT_EQ(item->ReportedFiles.size(), 1u);
  EXPECT_EQ(item->ReportedFiles[0].Size, 16);
  EXPECT_EQ(item->ReportedFiles[0].Time, LocalWriteTime(path_));
}

TEST_F(CheckFileTest, WaitUnlockingGivesUpOnACheckRequest) {
  Write(path_, seconds(7200));
  auto item = Item({"CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  auto check = std::async(std::launch::async, [&] { return item->Check(); });
  EXPECT_EQ(check.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  item->RequestCheck();
  ASSERT_EQ(check.wait_for(seconds(20)), std::future_status::ready);
  EXPECT_EQ(check.get(), 0);
  EXPECT_TRUE(item->CheckNowSet());  // left for the loop to answer
}

TEST_F(CheckFileTest, WaitUnlockingEndsOnStop) {
  Write(path_, seconds(7200));
  FakeClock clock(LocalWriteTime(path_) + 1.0);  // a day later: long unwritten
  services_.clock = &clock;
  auto item = Item({"CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  auto check = std::async(std::launch::async, [&] { return item->Check(); });
  clock.RunFor(0);  // returns once the check sleeps between two lock tests
  ASSERT_EQ(check.wait_for(seconds(0)), std::future_status::timeout);
  item->RequestTerminate();
  ASSERT_EQ(check.wait_for(seconds(20)), std::future_status::ready);
  EXPECT_EQ(check.get(), 0);
  services_.clock = &SystemClock();
}

TEST_F(CheckFileTest, FileHeldOpenForeverDoesNotHoldUpTheItemsEnd) {
  Write(path_, seconds(7200));
  FakeClock clock(LocalWriteTime(path_) + 1.0);
  services_.clock = &clock;
  auto item = std::make_shared<CheckFileThread>(false, services_);
  item->ParseBlock({"FileName=" + path_ + "\n", "CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  auto tracker = std::make_shared<ThreadTracker>();
  BaseMonitoring::Start(item, tracker);
  clock.RunFor(0);  // the first check now waits for the file
  item->RequestTerminate();
  EXPECT_TRUE(tracker->WaitIdle(5000));
  EXPECT_EQ(item->LastResult(), 0);
  services_.clock = &SystemClock();
}

}  // namespace
}  // namespace sentrel

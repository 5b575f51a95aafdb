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

  // An item watching `path_`, with further block lines.
  std::unique_ptr<CheckFileThread> Item(std::vector<std::string> lines = {}) {
    auto item = std::make_unique<CheckFileThread>(false, services_);
    lines.insert(lines.begin(), "FileName=" + path_ + "\n");
    item->ParseBlock(lines);
    return item;
  }
  // Writes the file and dates its last write `age` back from now.
  static void Write(const std::string& path, seconds age, const std::string& text = "beat\n") {
    std::ofstream(path, std::ios::trunc) << text;
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
  }
  static Instant WriteTime(const std::string& path) {
    FoundFile f;
    EXPECT_TRUE(StatFile(path, f));
    return InstantOf(f.mtime_sec, f.mtime_nsec);
  }
  // Checks as the loop does: the records go to `files_`, the item's list is
  // emptied.
  uint8_t Check(CheckFileThread& item) {
    uint8_t fired = item.Check();
    files_ = std::move(item.ReportedFiles);
    item.ReportedFiles.clear();
    return fired;
  }

  Services services_;
  std::string dir_;
  std::string path_;
  FileList files_;
};

TEST_F(CheckFileTest, ByDefaultFiresWhileTheFileIsNotWritten) {
  Write(path_, seconds(7200), "12345");
  auto item = Item();
  EXPECT_EQ(Check(*item), 1);  // two hours old at the first check
  EXPECT_EQ(item->Status(), kFileFired);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].Name, path_);
  EXPECT_EQ(files_[0].Size, 5);
  EXPECT_EQ(files_[0].State, kStateNone);
  EXPECT_EQ(files_[0].Time, FileTimeToLocalDateTime(WriteTime(path_)));
  EXPECT_EQ(Check(*item), 1);

  Write(path_, seconds(3600));
  EXPECT_EQ(Check(*item), 0);
  EXPECT_TRUE(files_.empty());
  EXPECT_EQ(item->Status(), kFileNotFired);
  EXPECT_EQ(Check(*item), 1);  // quiet again since that write
}

TEST_F(CheckFileTest, IfChangedFiresOnEveryWriteIncludingSaveByRename) {
  Write(path_, seconds(7200));
  auto item = Item({"IfChanged=1\n"});
  EXPECT_EQ(Check(*item), 0);

  Write(path_, seconds(10), "longer text\n");
  EXPECT_EQ(Check(*item), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].State, kStateChanged);
  EXPECT_EQ(files_[0].Size, 12);
  EXPECT_EQ(Check(*item), 0);

  // An editor's save: a new file renamed over the old one.
  const std::string temp = dir_ + "/.heartbeat.txt.swp";
  Write(temp, seconds(5), "saved\n");
  fs::rename(temp, path_);
  EXPECT_EQ(Check(*item), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].Size, 6);
}

// The first check has no earlier time to compare with: the file's age
// against the interval decides.
TEST_F(CheckFileTest, FirstCheckJudgesTheFileByItsAge) {
  Write(path_, seconds(0));
  const Instant written = WriteTime(path_);
  struct {
    int64_t clock_offset_s;
    uint8_t fired_default, fired_if_changed;
  } cases[] = {{30, 0, 1}, {61, 1, 0}, {-3600, 0, 1}};  // the last: dated in the future
  for (const auto& c : cases) {
    SCOPED_TRACE(c.clock_offset_s);
    FakeClock clock = FakeClock::At(written + c.clock_offset_s * kNanosPerSecond);
    services_.clock = &clock;
    EXPECT_EQ(Item()->Check(), c.fired_default);
    EXPECT_EQ(Item({"IfChanged=1\n"})->Check(), c.fired_if_changed);
  }
  services_.clock = &SystemClock();
}

TEST_F(CheckFileTest, MissingFileFiresWithoutRecordUnlessToldOtherwise) {
  auto item = Item();
  EXPECT_EQ(Check(*item), 1);
  EXPECT_EQ(Check(*item), 1);
  EXPECT_TRUE(files_.empty());
  EXPECT_EQ(item->Status(), kFileMissing);

  EXPECT_EQ(Item({"MustExist=0\n"})->Check(), 0);
  auto ignore_first = Item({"IgnoreFirst=1\n"});
  EXPECT_EQ(ignore_first->Check(), 0);
  EXPECT_EQ(ignore_first->Check(), 1);
}

TEST_F(CheckFileTest, FileThatComesBackIsReportedAsAdded) {
  // Written while it was away: IfChanged fires.
  Write(path_, seconds(7200));
  auto changed = Item({"IfChanged=1\n"});
  Check(*changed);
  fs::remove(path_);
  EXPECT_EQ(Check(*changed), 1);  // missing
  Write(path_, seconds(60));
  EXPECT_EQ(Check(*changed), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].State, kStateAdded);

  // Back with the very time it had: the default item fires.
  auto stale = Item();
  Check(*stale);
  const auto kept = fs::last_write_time(path_);
  fs::remove(path_);
  Check(*stale);
  Write(path_, seconds(0));
  fs::last_write_time(path_, kept);
  EXPECT_EQ(Check(*stale), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].State, kStateAdded);
}

TEST_F(CheckFileTest, HugeSizeAndLongPathAreKeptWhole) {
  std::string deep = dir_;
  for (char c : {'a', 'b', 'c'}) deep += "/" + std::string(120, c);
  fs::create_directories(deep);
  path_ = deep + "/big.bin";
  Write(path_, seconds(0));
  const int64_t five_gib = int64_t{5} << 30;
  fs::resize_file(path_, static_cast<uintmax_t>(five_gib));  // sparse
  fs::last_write_time(path_, fs::file_time_type::clock::now() - seconds(7200));

  EXPECT_EQ(Check(*Item()), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].Name, path_);
  EXPECT_EQ(files_[0].Size, five_gib);
}

TEST_F(CheckFileTest, MaskInTheLastPartFindsTheFileAsNamedOnDisk) {
  Write(dir_ + "/notes.md", seconds(7200));
  Write(dir_ + "/Backup-2026.TAR", seconds(7200), "archive");
  Write(dir_ + "/odd*[1].txt", seconds(7200));
  const std::pair<const char*, const char*> found[] = {
      {"/backup-*.tar", "/Backup-2026.TAR"},
      {"/odd*[1].txt", "/odd*[1].txt"},  // exists as written: that file
  };
  for (const auto& [name, on_disk] : found) {
    SCOPED_TRACE(name);
    path_ = dir_ + name;
    EXPECT_EQ(Check(*Item()), 1);
    ASSERT_EQ(files_.size(), 1u);
    EXPECT_EQ(files_[0].Name, dir_ + on_disk);
  }
  // No match, an invalid mask, a mask before the last part: missing.
  for (const char* name : {"/*.zip", "/backup-[", "/*/notes.md"}) {
    SCOPED_TRACE(name);
    path_ = dir_ + name;
    auto item = Item();
    EXPECT_EQ(item->Check(), 1);
    EXPECT_EQ(item->Status(), kFileMissing);
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
    EXPECT_EQ(Check(*plain), 1);
    EXPECT_EQ(Check(*locking), 0);
    EXPECT_EQ(Check(*locking), 0);
  }
  EXPECT_EQ(Check(*locking), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].State, kStateNone);
}

// A write seen while the writer still has the file open is not lost: it is
// reported at the first check after the file is released, and only then.
TEST_F(CheckFileTest, WriteHeldBackByALockIsReportedOnceReleased) {
  Write(path_, seconds(7200));
  auto item = Item({"IfChanged=1\n", "CheckLocking=1\n"});
  EXPECT_EQ(Check(*item), 0);
  {
    FileHolder writer(path_, /*write=*/true);
    ASSERT_TRUE(writer.Started());
    Write(path_, seconds(20), "new content\n");
    EXPECT_EQ(Check(*item), 0);
  }
  EXPECT_EQ(Check(*item), 1);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_[0].State, kStateChanged);
  EXPECT_EQ(Check(*item), 0);
}

TEST_F(CheckFileTest, WaitUnlockingFiresWithTheFileAsReleased) {
  Write(path_, seconds(7200));
  auto item = Item({"CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  auto check = std::async(std::launch::async, [&] { return item->Check(); });
  EXPECT_EQ(check.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  std::ofstream(path_, std::ios::app) << "last words\n";
  holder.Release();
  ASSERT_EQ(check.wait_for(seconds(20)), std::future_status::ready);
  EXPECT_EQ(check.get(), 1);
  ASSERT_EQ(item->ReportedFiles.size(), 1u);
  EXPECT_EQ(item->ReportedFiles[0].Size, 16);
  EXPECT_EQ(item->ReportedFiles[0].Time, FileTimeToLocalDateTime(WriteTime(path_)));
}

// A file held open forever neither keeps the item from answering a check
// request nor from stopping.
TEST_F(CheckFileTest, WaitUnlockingGivesUpOnACheckRequestOrAStop) {
  Write(path_, seconds(7200));
  auto item = Item({"CheckLocking=1\n", "WaitUnlocking=1\n"});
  FileHolder holder(path_);
  ASSERT_TRUE(holder.Started());
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop);
    auto check = std::async(std::launch::async, [&] { return item->Check(); });
    EXPECT_EQ(check.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    if (stop) {
      item->RequestTerminate();
    } else {
      item->RequestCheck();
    }
    ASSERT_EQ(check.wait_for(seconds(20)), std::future_status::ready);
    EXPECT_EQ(check.get(), 0);
    if (!stop) {
      EXPECT_TRUE(item->CheckNowSet());  // left for the loop to answer
    }
    item->ReportedFiles.clear();
  }
}

}  // namespace
}  // namespace sentrel

#include "platform/file_lookup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class FileLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "sentrel-lookup-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;
};

TEST_F(FileLookupTest, StatGivesLastComponentTimeAndSize) {
  const std::string path = dir_ + "/Report.TXT";
  std::ofstream(path) << "12345";
  FoundFile f;
  ASSERT_TRUE(StatFile(path, f));
  EXPECT_EQ(f.name, "Report.TXT");
  EXPECT_EQ(f.size, 5);
  const auto when = fs::last_write_time(path);
  const auto since_epoch = std::chrono::file_clock::to_sys(when).time_since_epoch();
  EXPECT_EQ(f.mtime_sec, std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count());

  EXPECT_FALSE(StatFile(dir_ + "/report.txt", f));
  EXPECT_FALSE(StatFile("", f));
}

TEST_F(FileLookupTest, DanglingLinkIsNoFileAndMatchingSkipsIt) {
  fs::create_symlink(dir_ + "/nowhere", dir_ + "/a.log");
  FoundFile f;
  EXPECT_FALSE(StatFile(dir_ + "/a.log", f));

  std::ofstream(dir_ + "/b.log") << "x";
  auto any_log = [](std::string_view name) { return name.ends_with(".log"); };
  ASSERT_TRUE(FindFirstMatch(dir_, any_log, f));
  EXPECT_EQ(f.name, "b.log");
}

TEST_F(FileLookupTest, MatchingNeverOffersDotEntries) {
  FoundFile f;
  EXPECT_FALSE(FindFirstMatch(dir_, [](std::string_view) { return true; }, f));
  EXPECT_FALSE(FindFirstMatch(dir_ + "/absent", [](std::string_view) { return true; }, f));
}

}  // namespace
}  // namespace sentrel

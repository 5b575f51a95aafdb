#include "platform/open_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "file_holder.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class OpenFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "sentrel-openfiles-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    path_ = (fs::path(dir_) / "data.log").string();
    std::ofstream(path_) << "line\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string dir_;
  std::string path_;
};

TEST_F(OpenFilesTest, FileIsInUseExactlyWhileAnotherProcessHoldsIt) {
  EXPECT_FALSE(IsFileInUse(path_));
  {
    FileHolder reader(path_);
    ASSERT_TRUE(reader.Started());
    EXPECT_TRUE(IsFileInUse(path_));
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_TRUE(OpenFileTable::Read().Contains(st.st_dev, st.st_ino));
  }
  EXPECT_FALSE(IsFileInUse(path_));

  FileHolder writer(path_, /*write=*/true);
  ASSERT_TRUE(writer.Started());
  EXPECT_TRUE(IsFileInUse(path_));
  writer.Release();
  EXPECT_FALSE(IsFileInUse(path_));
}

TEST_F(OpenFilesTest, OwnDescriptorsDoNotCount) {
  std::ifstream mine(path_);
  ASSERT_TRUE(mine.is_open());
  EXPECT_FALSE(IsFileInUse(path_));
}

TEST_F(OpenFilesTest, DirectoryIsInUseAndMissingPathIsNot) {
  EXPECT_TRUE(IsFileInUse(dir_));
  EXPECT_FALSE(IsFileInUse(dir_ + "/absent"));
  EXPECT_FALSE(IsFileInUse(""));
}

}  // namespace
}  // namespace sentrel

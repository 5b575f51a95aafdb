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

TEST(OpenFilesTest, InUseExactlyWhileAnotherProcessHoldsTheFile) {
  std::string dir = (fs::temp_directory_path() / "sentrel-openfiles-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  const std::string path = dir + "/data.log";
  std::ofstream(path) << "line\n";
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);

  {
    std::ifstream mine(path);  // our own descriptors do not count
    EXPECT_FALSE(IsFileInUse(path));
  }
  for (bool write : {false, true}) {
    FileHolder holder(path, write);
    ASSERT_TRUE(holder.Started());
    EXPECT_TRUE(IsFileInUse(path));
    EXPECT_TRUE(OpenFileTable::Read().InUse(dir + "/", "data.log", st.st_dev, st.st_ino));
    holder.Release();
    EXPECT_FALSE(IsFileInUse(path));
  }
  EXPECT_TRUE(IsFileInUse(dir));
  EXPECT_FALSE(IsFileInUse(dir + "/absent"));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace sentrel

#include "platform/open_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "file_holder.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// The exclusive open sees every holder, this program included.
TEST(OpenFilesTest, InUseExactlyWhileSomeoneHoldsTheFile) {
  TempDir dir;
  const std::string path = dir.Write("data.log", "line\n");
  EXPECT_FALSE(IsFileInUse(path));
  for (bool write : {false, true}) {
    FileHolder holder(path, write);
    ASSERT_TRUE(holder.Started());
    EXPECT_TRUE(IsFileInUse(path));
    EXPECT_TRUE(OpenFileTable::Read().InUse(dir.Root(), "data.log", 0, 0));
    holder.Release();
    EXPECT_FALSE(IsFileInUse(path));
  }
  {
    std::ifstream mine(path);
    EXPECT_TRUE(IsFileInUse(path));
  }
  EXPECT_TRUE(IsFileInUse(dir.str()));
  EXPECT_FALSE(IsFileInUse(dir.Sub("absent")));
}

}  // namespace
}  // namespace sentrel

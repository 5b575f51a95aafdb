// File operations with the Recycle Bin and drive-letter paths.
#include <gtest/gtest.h>

#include <string>

#include "actions/file_operation.h"
#include "file_operation_fixture.h"

namespace sentrel {
namespace {

TEST_F(FileOperationTest, DeletesToTheRecycleBinThroughTheShell) {
  const std::string f = tree.Write("a b%.txt", "a");
  tree.Write("d/x/y", "y");
  FileOpSummary s = Do(kFoDelete, {f, tree.Sub("d"), tree.Sub("absent")}, {},
                       kFofNoConfirmation | kFofAllowUndo);
  EXPECT_EQ(s.done, 2);
  EXPECT_EQ(s.failed, 1);
  EXPECT_FALSE(Exists(f));
  EXPECT_FALSE(Exists(tree.Sub("d")));
  EXPECT_FALSE(Exists(trash_dir));  // the program keeps no trash of its own here
}

TEST_F(FileOperationTest, ForwardSlashesAndADriveRootAreTakenAsWritten) {
  const std::string a = tree.Write("a.txt", "a");
  std::string slashed = tree.str() + "/out/b.txt";
  EXPECT_EQ(Do(kFoCopy, {a}, {slashed}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("out/b.txt")), "a");
  EXPECT_EQ(Do(kFoRename, {tree.Sub("out/b.txt")}, {"c.txt"}).done, 1);
  EXPECT_TRUE(Exists(tree.Sub("out/c.txt")));
  // A directory never goes into itself, up to its drive's root.
  EXPECT_EQ(Do(kFoCopy, {tree.Sub("out")}, {tree.Sub("out/inner/")}).failed, 1);
}

}  // namespace
}  // namespace sentrel

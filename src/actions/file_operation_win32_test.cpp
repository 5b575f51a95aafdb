// File operations with the Recycle Bin and drive-letter paths.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "actions/file_operation.h"
#include "file_operation_fixture.h"
#include "platform/file_ops.h"

namespace sentrel {
namespace {

// The test's own view of the disk goes through "\\?\", where the system
// takes every name exactly as written.
std::string Verbatim(const std::string& path) { return "\\\\?\\" + path; }
void Put(const std::string& path, const std::string& text) {
  std::ofstream(Verbatim(path), std::ios::binary) << text;
}
std::string Content(const std::string& path) {
  std::ifstream in(Verbatim(path), std::ios::binary);
  if (!in) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Windows strips a trailing dot or blank from a name unless told not to: a
// file "report." or "report " must never make an operation reach "report".
TEST_F(FileOperationTest, NamesEndingInADotOrABlankAreTheirOwnFiles) {
  const std::string plain = tree.Sub("report"), dot = tree.Sub("report."),
                    blank = tree.Sub("report ");
  Put(plain, "plain");
  Put(dot, "dot");
  Put(blank, "blank");
  std::string error;
  ASSERT_TRUE(MakeDirectories(tree.Sub("out."), error)) << error;
  const std::string out = tree.Sub("out.") + "\\";

  EXPECT_EQ(Do(kFoCopy, {dot}, {out}).done, 1);
  EXPECT_EQ(Content(out + "report."), "dot");
  EXPECT_EQ(Content(out + "report"), "<missing>");
  EXPECT_EQ(Do(kFoMove, {blank}, {out + "moved "}).done, 1);
  EXPECT_EQ(Content(out + "moved "), "blank");
  EXPECT_EQ(Content(out + "moved"), "<missing>");
  EXPECT_EQ(Do(kFoRename, {out + "report."}, {"renamed."}).done, 1);
  EXPECT_EQ(Content(out + "renamed."), "dot");
  // The Recycle Bin's shell call cannot take such a name: refused, kept.
  EXPECT_EQ(Do(kFoDelete, {dot}, {}, kFofNoConfirmation | kFofAllowUndo).failed, 1);
  EXPECT_EQ(Content(dot), "dot");
  EXPECT_EQ(Do(kFoDelete, {dot}, {}).done, 1);
  EXPECT_EQ(Content(dot), "<missing>");
  EXPECT_EQ(Content(plain), "plain");
  EXPECT_EQ(Content(blank), "<missing>");
  EXPECT_EQ(Do(kFoDelete, {tree.Sub("out.")}, {}).done, 1);
  EXPECT_EQ(Content(plain), "plain");
}

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

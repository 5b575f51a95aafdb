#include "shell/text_util.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(PathTest, DirectoryAndFileNameSplitAtTheLastSeparator) {
  EXPECT_EQ(DirectoryOf("/data/logs/a.txt"), "/data/logs/");
  EXPECT_EQ(DirectoryOf("a.txt"), "");
  EXPECT_EQ(FileNameOf("/data/logs/a.txt"), "a.txt");
  EXPECT_EQ(FileNameOf("a.txt"), "a.txt");
  EXPECT_EQ(SiblingPath("/opt/sentrel/sentrel", "default.mon"), "/opt/sentrel/default.mon");
  EXPECT_EQ(SiblingPath("sentrel", "default.mon"), "default.mon");
  std::string long_path = "/" + std::string(300, 'd') + "/" + std::string(300, 'f');
  EXPECT_EQ(FileNameOf(long_path), std::string(300, 'f'));  // never cut
}

TEST(UnquoteArgumentTest, BackslashEscapesTheNextCharacter) {
  std::string out;
  EXPECT_EQ(UnquoteArgument("a\\\"b\"c", out), 5u);
  EXPECT_EQ(out, "a\"b");
  EXPECT_EQ(UnquoteArgument("open end", out), 8u);
  EXPECT_EQ(out, "open end");
  EXPECT_EQ(UnquoteArgument("x\\", out), 2u);  // a final backslash ends the copy
  EXPECT_EQ(out, "x");
}

TEST(InsertPathTest, OnlyTheFirstPercentSIsReplaced) {
  EXPECT_EQ(InsertPath("File \"%s\" is loaded.", "/a b"), "File \"/a b\" is loaded.");
  EXPECT_EQ(InsertPath("100% %d %s %s %n", "/p"), "100% %d /p %s %n");
  EXPECT_EQ(InsertPath("no path here", "/p"), "no path here");
}

}  // namespace
}  // namespace sentrel

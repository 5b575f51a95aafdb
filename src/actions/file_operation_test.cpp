#include "actions/file_operation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "actions/fileop_action.h"
#include "file_operation_fixture.h"

namespace sentrel {
namespace {

TEST(FileOpFlagRule, FollowsTheSwitches) {
  struct Row {
    bool files_only, allow_undo, show_progress, yes_to_all, single_arg;
    uint16_t flags;
  } rows[] = {
      {false, false, true, true, false, 0x210},  {false, false, true, true, true, 0x210},
      {false, false, true, false, false, 0x200}, {false, false, true, false, true, 0x200},
      {false, false, false, true, false, 0x614}, {false, false, false, false, false, 0x614},
      {false, false, false, true, true, 0x210},  {false, false, false, false, true, 0x210},
      {true, false, true, true, false, 0x290},   {false, true, true, true, false, 0x250},
      {true, true, false, false, false, 0x6D4},  {false, true, true, false, true, 0x240},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FileOpFlagsFor(r.files_only, r.allow_undo, r.show_progress, r.yes_to_all,
                             r.single_arg),
              r.flags)
        << r.files_only << r.allow_undo << r.show_progress << r.yes_to_all << r.single_arg;
  }
}

TEST(FileOpList, EndsAtTheFirstEmptyEntry) {
  EXPECT_EQ(SplitOpList("a;b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitOpList("a;b;"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitOpList("a;;b"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(SplitOpList(";a").empty());
  EXPECT_TRUE(SplitOpList("").empty());
}

TEST_F(FileOperationTest, CopiesOneFileToANewNameCreatingItsFolders) {
  std::string a = tree.Write("a.txt", "alpha");
  FileOpSummary s = Do(kFoCopy, {a}, {tree.Sub("out/deep/b.txt")});
  EXPECT_EQ(s.done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("out/deep/b.txt")), "alpha");
  EXPECT_EQ(ReadFileText(a), "alpha");
  EXPECT_NE(sink.Text().find("Copy: " + a + " -> " + tree.Sub("out/deep/b.txt")),
            std::string::npos);
}

TEST_F(FileOperationTest, SeveralSourcesOrAWildcardGoIntoTheTargetDirectory) {
  std::string a = tree.Write("src/a.txt", "a");
  std::string b = tree.Write("src/b.log", "b");
  tree.Write("src/C.TXT", "c");
  tree.MakeDir("src/sub.txt");
  tree.Write("src/sub.txt/inner", "i");

  // A missing source is passed over; the others are still copied.
  FileOpSummary s = Do(kFoCopy, {a, tree.Sub("src/missing"), b}, {tree.Sub("two")});
  EXPECT_EQ(s.done, 2);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("two/a.txt")), "a");
  EXPECT_EQ(ReadFileText(tree.Sub("two/b.log")), "b");
  EXPECT_NE(sink.Text().find("Cannot copy"), std::string::npos);

  // Case folds for the ASCII letters; directories match unless files only.
  Do(kFoCopy, {tree.Sub("src/*.txt")}, {tree.Sub("all")});
  EXPECT_TRUE(Exists(tree.Sub("all/a.txt")));
  EXPECT_TRUE(Exists(tree.Sub("all/C.TXT")));
  EXPECT_EQ(ReadFileText(tree.Sub("all/sub.txt/inner")), "i");
  EXPECT_FALSE(Exists(tree.Sub("all/b.log")));

  Do(kFoCopy, {tree.Sub("src/*.txt")}, {tree.Sub("files")},
     kFofNoConfirmation | kFofNoConfirmMkdir | kFofFilesOnly);
  EXPECT_TRUE(Exists(tree.Sub("files/a.txt")));
  EXPECT_FALSE(Exists(tree.Sub("files/sub.txt")));

  // One wildcard match is still put into the directory.
  Do(kFoCopy, {tree.Sub("src/*.log")}, {tree.Sub("one")});
  EXPECT_EQ(ReadFileText(tree.Sub("one/b.log")), "b");
}

TEST_F(FileOperationTest, RefusesToCopyADirectoryIntoItself) {
  tree.Write("d/f", "f");
  FileOpSummary s = Do(kFoCopy, {tree.Sub("d")}, {tree.Sub("d/inside/")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_FALSE(Exists(tree.Sub("d/inside/d")));
  s = Do(kFoMove, {tree.Sub("d")}, {tree.Sub("d/sub/d2")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("d/f")), "f");
}

TEST_F(FileOperationTest, OverwritesOnlyWhenNoConfirmationIsAskedOrTheUserAgrees) {
  std::string a = tree.Write("a", "new");
  std::string b = tree.Write("b", "old");
  const uint16_t ask = kFofNoConfirmMkdir;

  // Nobody to ask: the answer is no.
  FileOpSummary s = Do(kFoCopy, {a}, {b}, ask, nullptr);
  EXPECT_EQ(s.skipped, 1);
  EXPECT_EQ(ReadFileText(b), "old");

  ScriptedConfirmer no(false);
  Do(kFoMove, {a}, {b}, ask, &no);
  ASSERT_EQ(no.questions.size(), 1u);
  EXPECT_NE(no.questions[0].find(b), std::string::npos);
  EXPECT_EQ(ReadFileText(b), "old");
  EXPECT_EQ(ReadFileText(a), "new");

  ScriptedConfirmer yes(true);
  Do(kFoCopy, {a}, {b}, ask, &yes);
  EXPECT_EQ(ReadFileText(b), "new");

  tree.Write("b", "old");
  Do(kFoCopy, {a}, {b});
  EXPECT_EQ(ReadFileText(b), "new");

  // A file never replaces a directory.
  tree.Write("dir/a/keep", "k");
  s = Do(kFoMove, {a}, {tree.Sub("dir")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("dir/a/keep")), "k");
  EXPECT_EQ(ReadFileText(a), "new");
}

TEST_F(FileOperationTest, DeletesTreesAndPassesOverMissingEntries) {
  tree.Write("d/x/y", "y");
  FileOpSummary s = Do(kFoDelete, {tree.Sub("d"), tree.Sub("nothing")}, {});
  EXPECT_EQ(s.done, 1);
  EXPECT_EQ(s.failed, 1);
  EXPECT_FALSE(Exists(tree.Sub("d")));
}

TEST_F(FileOperationTest, DeletesNothingUnlessConfirmed) {
  std::string a = tree.Write("a", "a");
  std::string b = tree.Write("b", "b");
  FileOpSummary s = Do(kFoDelete, {a, b}, {}, kFofNoConfirmMkdir, nullptr);
  EXPECT_EQ(s.skipped, 2);
  EXPECT_TRUE(Exists(a) && Exists(b));

  ScriptedConfirmer yes(true);
  Do(kFoDelete, {tree.Sub("*")}, {}, kFofNoConfirmMkdir, &yes);
  ASSERT_EQ(yes.questions.size(), 1u);
  EXPECT_NE(yes.questions[0].find("these 2 items"), std::string::npos);
  EXPECT_FALSE(Exists(a) || Exists(b));
}

TEST_F(FileOperationTest, RenamesOneEntryWithinItsDirectory) {
  std::string a = tree.Write("a.txt", "a");
  tree.MakeDir("other");
  EXPECT_EQ(Do(kFoRename, {a}, {"b.txt"}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("b.txt")), "a");

  std::string b = tree.Sub("b.txt");
  EXPECT_EQ(Do(kFoRename, {b}, {tree.Sub("other/c.txt")}).failed, 1);
  EXPECT_EQ(Do(kFoRename, {tree.Sub("*.txt")}, {tree.Sub("c.txt")}).failed, 1);
  EXPECT_EQ(Do(kFoRename, {b, b}, {tree.Sub("c.txt")}).done, 0);
  EXPECT_TRUE(Exists(b));
  EXPECT_EQ(Do(kFoRename, {b}, {tree.Sub("c.txt")}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("c.txt")), "a");
}

TEST_F(FileOperationTest, SilentOperationsPrintNothing) {
  const uint16_t silent = kFofNoConfirmation | kFofSilent | kFofNoErrorUi;
  std::string a = tree.Write("a", "a");
  // A source that is not there is nothing lost.
  Do(kFoCopy, {a, tree.Sub("missing")}, {tree.Sub("out")}, silent);
  EXPECT_TRUE(Exists(tree.Sub("out/a")));
  EXPECT_EQ(sink.Text(), "");
}

}  // namespace
}  // namespace sentrel

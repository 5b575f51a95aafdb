#include "platform/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/dir_list.h"
#include "platform/durable_file.h"
#include "platform/file_lookup.h"
#include "platform/file_ops.h"
#include "platform/file_tree.h"
#include "platform/open_files.h"
#include "shell/text_util.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// Fails the test on any step of a tree operation that goes wrong.
struct FailingListener final : TreeListener {
  void Placed(const std::string&, const std::string&, const EntryInfo&) override {}
  void Failed(TreeStep, const std::string& path, const std::string&,
              const std::string& why) override {
    ADD_FAILURE() << path << ": " << why;
  }
  ReplaceAnswer MayReplace(const std::string&, const std::string&, const EntryInfo&) override {
    return ReplaceAnswer::kFail;
  }
};

TEST(WindowsPathTest, RootsAndSeparators) {
  EXPECT_EQ(kPathSeparator, '\\');
  EXPECT_EQ(PathRootLength("C:\\a"), 3u);
  EXPECT_EQ(PathRootLength("C:a"), 2u);
  EXPECT_EQ(PathRootLength("\\\\server\\share\\dir"), 15u);
  EXPECT_EQ(PathRootLength("\\dir"), 1u);
  EXPECT_EQ(PathRootLength("dir\\a"), 0u);
  EXPECT_TRUE(IsAbsolutePath("C:/a"));
  EXPECT_TRUE(IsAbsolutePath("\\\\server\\share"));
  EXPECT_FALSE(IsAbsolutePath("C:a"));
  EXPECT_EQ(NativeSeparators("C:/a/b"), "C:\\a\\b");
  EXPECT_EQ(NativeSeparators("\\\\?\\C:\\a/b"), "\\\\?\\C:\\a/b");  // taken as written
  EXPECT_EQ(DirectoryOf("C:/data\\a.txt"), "C:/data\\");
  EXPECT_EQ(FileNameOf("\\\\server\\share\\a.txt"), "a.txt");
}

// Far past the classic limit of 260 characters, every file call works.
TEST(WindowsPathTest, PathsOfAnyLength) {
  TempDir dir;
  std::string deep = dir.str();
  for (int i = 0; i < 6; ++i) deep += "\\" + std::string(100, static_cast<char>('a' + i));
  std::string error;
  ASSERT_TRUE(MakeDirectories(deep, error)) << error;
  const std::string file = deep + "\\f\xc3\xa9.txt";  // and a name outside the code page
  std::FILE* f = OpenFile(file, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("hello", f);
  std::fclose(f);

  FoundFile found;
  ASSERT_TRUE(StatFile(file, found));
  EXPECT_EQ(found.size, 5);
  EXPECT_EQ(found.name, "f\xc3\xa9.txt");
  DirectoryListing listing;
  ASSERT_TRUE(listing.Open(deep + "\\"));
  DirEntryInfo e;
  bool seen = false;
  while (listing.Next(e)) seen = seen || e.name == "f\xc3\xa9.txt";
  EXPECT_TRUE(seen);
  FailingListener listener;
  EXPECT_EQ(TransferTree(file, file + ".copy", /*move=*/true, listener), TreeOutcome::kDone);
  EXPECT_EQ(StatEntry(file + ".copy").size, 5);

  // Removed by the program, as the test folder's own clean-up cannot.
  EXPECT_EQ(RemoveTree(dir.str() + "\\a" + std::string(99, 'a'), listener), TreeOutcome::kDone);
}

// Windows strips a trailing dot or blank from a name unless told not to:
// "report.", "report " and "report" side by side, in a folder "logs.", are
// each reached by their own name (list files, listing, lookup, in-use test,
// saved state).
TEST(WindowsPathTest, NamesEndingInADotOrABlankReachTheirOwnFiles) {
  TempDir dir;
  const std::string folder = dir.str() + "\\logs.";
  std::string error;
  ASSERT_TRUE(MakeDirectories(folder, error)) << error;
  const std::vector<std::string> names = {"report", "report.", "report "};
  for (size_t i = 0; i < names.size(); ++i) {
    std::FILE* f = OpenFile(folder + "\\" + names[i], "ab");
    ASSERT_NE(f, nullptr) << names[i];
    std::fputs(std::string(i + 1, 'x').c_str(), f);
    std::fclose(f);
  }
  DirectoryListing listing;
  ASSERT_TRUE(listing.Open(folder + "\\"));
  DirEntryInfo e;
  std::vector<std::string> listed;
  while (listing.Next(e)) {
    if (e.name != "." && e.name != "..") listed.push_back(std::string(e.name) + "=" + std::to_string(e.size));
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"report =3", "report.=2", "report=1"}));
  for (size_t i = 0; i < names.size(); ++i) {
    FoundFile found;
    ASSERT_TRUE(StatFile(folder + "\\" + names[i], found)) << names[i];
    EXPECT_EQ(found.size, static_cast<int64_t>(i + 1)) << names[i];
    EXPECT_EQ(found.name, names[i]);
  }
  {
    std::FILE* held = OpenFile(folder + "\\report.", "rb");
    ASSERT_NE(held, nullptr);
    EXPECT_TRUE(IsFileInUse(folder + "\\report."));
    EXPECT_FALSE(IsFileInUse(folder + "\\report"));
    std::fclose(held);
  }
  DurableFileWriter state;
  ASSERT_TRUE(state.Open(folder + "\\report ", error)) << error;
  ASSERT_TRUE(state.Write("saved", 5));
  ASSERT_TRUE(state.Commit(error)) << error;
  EXPECT_EQ(StatEntry(folder + "\\report ").size, 5);
  EXPECT_EQ(StatEntry(folder + "\\report").size, 1);
  for (const std::string& name : names) EXPECT_TRUE(RemoveFile(folder + "\\" + name, error)) << error;
  EXPECT_EQ(AbsolutePath(folder + "\\.\\report. "), folder + "\\report. ");
  EXPECT_EQ(AbsolutePath(folder + "\\x\\..\\report."), folder + "\\report.");
  // Removed by the program: the test folder's own clean-up, which reaches
  // "logs" for "logs.", would never end on it.
  FailingListener listener;
  EXPECT_EQ(RemoveTree(folder, listener), TreeOutcome::kDone);
}

// A list named CON shows on the console, and reaches a pipe or a file when
// the output goes there.
TEST(WindowsPathTest, TheConsoleDeviceIsTheProgramsOwnOutput) {
  testing::internal::CaptureStdout();
  std::FILE* con = OpenFile("con", "ab");
  ASSERT_NE(con, nullptr);
  std::fputs("listed\r\n", con);
  std::fclose(con);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "listed\r\n");
}

}  // namespace
}  // namespace sentrel

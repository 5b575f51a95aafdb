#include "actions/list_action.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "temp_dir.h"

namespace sentrel {
namespace {

class ListActionTest : public ::testing::Test {
 protected:
  ListActionTest() : ctx_(services_, stop_, stop_wakeup_) {}

  // Sets the action's values from configuration lines.
  void Configure(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
      ASSERT_TRUE(OfferLine(action_.Params(), line + "\n")) << line;
    }
  }
  FileList Files(std::initializer_list<const char*> names) {
    FileList files;
    for (const char* n : names) files.emplace_back(dir_.Sub(n), 0.0, 10, kStateAdded);
    return files;
  }

  TempDir dir_;
  Services services_;
  std::atomic<bool> stop_{false};
  Wakeup stop_wakeup_;
  RunContext ctx_;
  ListAction action_;
};

TEST_F(ListActionTest, DefaultsWriteFullPathsWithCarriageReturnLineFeedAndReplace) {
  EXPECT_EQ(action_.ListName().Value(), "list.txt");
  EXPECT_EQ(action_.Describe(), "list.txt: %File");
  const std::string list = dir_.Sub("list.txt");
  Configure({"ListName=" + list});
  action_.Run(Files({"a.txt", "b.txt"}), ctx_);
  EXPECT_EQ(ReadFileText(list), dir_.Sub("a.txt") + "\r\n" + dir_.Sub("b.txt") + "\r\n");
  action_.Run(Files({"c.txt"}), ctx_);
  EXPECT_EQ(ReadFileText(list), dir_.Sub("c.txt") + "\r\n");
}

TEST_F(ListActionTest, AppendKeepsOlderLinesFirst) {
  const std::string list = dir_.Sub("list.txt");
  Configure({"ListName=" + list, "ListParams=%Name", "ListAppend=1"});
  action_.Run(Files({"1", "2"}), ctx_);
  action_.Run(Files({"3", "4"}), ctx_);
  action_.Run(Files({"5", "6"}), ctx_);
  EXPECT_EQ(ReadFileText(list), "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n");
}

TEST_F(ListActionTest, AnEmptyRunLeavesTheFileAsItWas) {
  const std::string list = dir_.Write("list.txt", "old content\n");
  Configure({"ListName=" + list});
  action_.Run(FileList(), ctx_);
  EXPECT_EQ(ReadFileText(list), "old content\n");
  Configure({"ListName=" + dir_.Sub("never.txt")});
  action_.Run(FileList(), ctx_);
  EXPECT_FALSE(std::filesystem::exists(dir_.Sub("never.txt")));
}

TEST_F(ListActionTest, LinesAreExpandedPerFileAndWrittenAsTheyCome) {
  const std::string list = dir_.Sub("list.txt");
  Configure({"ListName=" + list, "ListParams=%Time=\"hh:nn\" %Size %Name %(%)%%"});
  FileList files = {{dir_.Sub("100%.txt"), DateTimeValue(2024, 1, 2, 9, 5, 0, 0), 42, kStateAdded}};
  action_.Run(files, ctx_);
  // A group has no meaning per file: "%(" gives nothing and "%)" a bracket.
  EXPECT_EQ(ReadFileText(list), "09:05 42 100%.txt )%\r\n");
}

TEST_F(ListActionTest, TheListNameIsUsedAsWritten) {
  Configure({"ListName=" + dir_.Sub("%File")});
  action_.Run(Files({"a"}), ctx_);
  EXPECT_EQ(ReadFileText(dir_.Sub("%File")), dir_.Sub("a") + "\r\n");
}

TEST_F(ListActionTest, AListThatCannotBeOpenedIsSkipped) {
  Configure({"ListName=" + dir_.Sub("missing/list.txt")});
  action_.Run(Files({"a"}), ctx_);
  EXPECT_FALSE(std::filesystem::exists(dir_.Sub("missing")));
  Configure({"ListName="});
  action_.Run(Files({"a"}), ctx_);
  action_.AfterRun(ctx_);
}

TEST_F(ListActionTest, DeletionAfterTheRunTakesFilesButNeverDirectories) {
  const std::string list = dir_.Write("list.txt", "x");
  Configure({"ListName=" + list});
  action_.AfterRun(ctx_);
  EXPECT_TRUE(std::filesystem::exists(list));  // "ListDelete" is off

  Configure({"ListDelete=1"});
  action_.AfterRun(ctx_);
  EXPECT_FALSE(std::filesystem::exists(list));
  action_.AfterRun(ctx_);  // already gone: nothing happens

  std::filesystem::create_directory(dir_.Sub("folder"));
  Configure({"ListName=" + dir_.Sub("folder")});
  action_.AfterRun(ctx_);
  EXPECT_TRUE(std::filesystem::is_directory(dir_.Sub("folder")));
}

}  // namespace
}  // namespace sentrel

#include "loader/monitor_process.h"

#include <gtest/gtest.h>

#include "config/diagnostics.h"
#include "monitor/chkdir.h"
#include "monitor/chkfile.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

class LoadTest : public ::testing::Test {
 protected:
  LoadTest() { services_.messages = &sink_; }
  ~LoadTest() override {
    process_.StopAll();
    EXPECT_TRUE(process_.WaitStopped(20000));
  }
  bool Load(const std::string& text) { return process_.Load(dir_.Write("test.mon", text)); }
  std::vector<std::shared_ptr<BaseMonitoring>> items() { return process_.Monitors(); }

  TempDir dir_;
  CapturingSink sink_;
  Services services_;
  MonitorProcess process_{services_};
};

TEST_F(LoadTest, MissingFileOrAFolderFailsAndCreatesNothing) {
  EXPECT_FALSE(process_.Load(dir_.Sub("absent.mon")));
  EXPECT_FALSE(process_.Load(dir_.MakeDir("folder.mon")));
  EXPECT_TRUE(items().empty());
}

// As editors on Windows save "UTF-8 with BOM".
TEST_F(LoadTest, AByteOrderMarkIsNoPartOfTheFirstKey) {
  Diagnostics notes;
  ASSERT_TRUE(process_.Load(dir_.Write("bom.mon", "\xEF\xBB\xBFIsDirectory=1\nFileName=" +
                                                      dir_.str() + "\nAction=0\nEOF\n"),
                            &notes));
  ASSERT_EQ(items().size(), 1u);
  EXPECT_NE(dynamic_cast<CheckDirThread*>(items()[0].get()), nullptr);
  EXPECT_TRUE(notes.empty()) << FormatDiagnostic("bom.mon", notes.Sorted()[0]);
}

TEST_F(LoadTest, AFileOrALineBeyondItsLimitIsRefusedWithTheLimitNamed) {
  const std::string block = "FileName=" + dir_.Sub("x") + "\nAction=0\nEOF\n";
  const struct {
    std::string text, remark;
  } cases[] = {
      {block + std::string((16 << 20) - block.size(), ';') + "\n",
       "big.mon: error: is larger than 16 MiB, the most a configuration file may hold; it is not "
       "used"},
      {block + std::string((1 << 20) + 1, 'x') + "\n" + block,
       "big.mon:4: error: the line is longer than 1 MiB, the most a configuration line may hold; "
       "the file is not used"},
  };
  for (const auto& c : cases) {
    Diagnostics notes;
    EXPECT_FALSE(process_.Load(dir_.Write("big.mon", c.text), &notes));
    EXPECT_TRUE(items().empty());
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(FormatDiagnostic("big.mon", notes.Sorted()[0]), c.remark);
  }
  // Just within both limits.
  EXPECT_TRUE(process_.Load(
      dir_.Write("big.mon", block + std::string((1 << 20) - 1, ';') + "\n" + block)));
  EXPECT_EQ(items().size(), 2u);
}

TEST_F(LoadTest, EmptyOrCommentOnlyFileLoadsWithoutItems) {
  EXPECT_TRUE(Load(""));
  EXPECT_TRUE(Load("; just a comment\n\n;EOF\n"));
  EXPECT_TRUE(items().empty());
}

TEST_F(LoadTest, EachClosedBlockBecomesOneItemOfItsKind) {
  ASSERT_TRUE(Load("FileName=/a\nEOF\n"
                   "IsDirectory=1\nFileName=/b\neof trailing words\n"
                   "IsDirectory=2\nFileName=/c\nEoF\n"
                   "IsDirectory=7\nFileName=/d\nEOF\n"
                   "IsDirectory=-1\nEOF\n"
                   "FileName=/unclosed\n"));
  ASSERT_EQ(items().size(), 4u);
  EXPECT_NE(dynamic_cast<CheckFileThread*>(items()[0].get()), nullptr);
  EXPECT_NE(dynamic_cast<CheckDirThread*>(items()[1].get()), nullptr);
  EXPECT_NE(dynamic_cast<CheckFileThread*>(items()[2].get()), nullptr);
  EXPECT_NE(dynamic_cast<CheckFileThread*>(items()[3].get()), nullptr);
  EXPECT_EQ(items()[1]->IsDirectory().Value(), 1);
  EXPECT_EQ(items()[2]->IsDirectory().Value(), 0);
}

TEST_F(LoadTest, CommentsAndBlankLinesDoNotSplitABlockButIndentedEofIsALine) {
  ASSERT_TRUE(Load("Interval=7\n;comment\n\nRunOnce=1\n EOF\nComment=x\nEOF\n"));
  ASSERT_EQ(items().size(), 1u);
  EXPECT_EQ(items()[0]->Interval().Value(), 7);
  EXPECT_TRUE(items()[0]->RunOnce().Value());
}

TEST_F(LoadTest, CarriageReturnsBeforeLineFeedsAreDropped) {
  ASSERT_TRUE(Load("Interval=7\r\nFileName=/x\r\nEOF\r\n"));
  ASSERT_EQ(items().size(), 1u);
  EXPECT_EQ(items()[0]->FileName().Value(), NativeSeparators("/x"));
}

TEST_F(LoadTest, PausedItemIsCreatedButNeverStartedAndPauseDoesNotLeak) {
  ASSERT_TRUE(Load("Paused=TRUE\nInterval=1\nEOF\nInterval=1\nEOF\n"));
  ASSERT_EQ(items().size(), 2u);
  EXPECT_EQ(items()[0]->Status(), kStatusPaused);
  EXPECT_NE(items()[1]->Status(), kStatusPaused);
  EXPECT_EQ(process_.tracker()->Running(), 1);
}

TEST_F(LoadTest, LongPhysicalLineArrivesAsSeveralLines) {
  std::string value(4992, 'x');
  ASSERT_TRUE(Load("Comment=" + value + "\nEOF\n"));
  ASSERT_EQ(items().size(), 1u);
  // The first 4096 characters are one line (no line feed); the remaining 904
  // characters are another line that no value takes.
  const ParamList& params = items()[0]->Params();
  auto it = std::find_if(params.begin(), params.end(),
                         [](Param* p) { return p->Name() == "Comment"; });
  ASSERT_NE(it, params.end());
  EXPECT_EQ(static_cast<StringParam*>(*it)->Value().size(), 4096u - 8u);
}

TEST_F(LoadTest, StopAllEndsEveryItemThread) {
  ASSERT_TRUE(Load("Interval=1\nEOF\nInterval=3600\nEOF\nPaused=1\nEOF\n"));
  process_.StopAll();
  EXPECT_TRUE(items().empty());
  EXPECT_TRUE(process_.WaitStopped(20000));
}

// An unchanged block keeps its item running through a reload; what the item
// says from then on names the lines where the block now stands.
TEST_F(LoadTest, AReloadMovesTheLinesAKeptItemNames) {
  const std::string block = "Interval=3600\nAction=0\nListName=" + dir_.Sub("l.txt") + "\nEOF\n";
  ASSERT_TRUE(Load(block));
  const auto kept = items().at(0);
  ASSERT_EQ(kept->Actions().at(0)->line(), 2);
  Diagnostics notes;
  const std::string before = "FileName=" + dir_.Sub("other") + "\nEOF\n";
  const auto reloaded = process_.Reload(dir_.Write("test.mon", before + block), notes, 20000);
  ASSERT_TRUE(reloaded.done);
  EXPECT_EQ(reloaded.kept, 1);
  ASSERT_EQ(items().size(), 2u);
  EXPECT_EQ(items()[1], kept);
  EXPECT_EQ(kept->OriginLine(), 3);
  EXPECT_EQ(kept->Actions()[0]->line(), 4);
}

}  // namespace
}  // namespace sentrel

#include "actions/fileop_action.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/top_windows.h"
#include "temp_dir.h"
#include "xvfb.h"

namespace sentrel {
namespace {


class FileOpActionTest : public ::testing::Test {
 protected:
  FileOpActionTest() { services.messages = &sink; }

  std::unique_ptr<Action> Make(const std::vector<std::string>& lines,
                               const std::string& display = "") {
    auto action = CreateAction(kFileOpAction);
    auto* op = static_cast<FileOpAction*>(action.get());
    op->SetTrashDir(dir.Sub("Trash"));
    op->SetDisplay(display);
    for (const std::string& line : lines) OfferLine(action->Params(), line + "\n");
    return action;
  }

  FileList Files(std::initializer_list<const char*> names) {
    FileList files;
    for (const char* n : names) files.emplace_back(dir.Write(n, n), 0.0, 1, kStateAdded);
    return files;
  }

  TempDir dir;
  CapturingSink sink;
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx{services, stop, stop_wakeup};
};

TEST_F(FileOpActionTest, OneOperationPerFileOrOneForTheWholeBatch) {
  FileList files = Files({"a", "b", "c"});
  Make({"OpIndex=3", "OpSource=%File", "OpSingleArg=1"})->Run(files, ctx);
  EXPECT_FALSE(Exists(files[0].Name) || Exists(files[1].Name) || Exists(files[2].Name));

  // Outside a group a macro names the first file only.
  files = Files({"a", "b", "c"});
  Make({"OpIndex=3", "OpSource=%File"})->Run(files, ctx);
  EXPECT_FALSE(Exists(files[0].Name));
  EXPECT_TRUE(Exists(files[1].Name) && Exists(files[2].Name));

  files = Files({"a", "b", "c"});
  Make({"OpIndex=0", "OpSource=%(%File;%)", "OpDestination=" + dir.Sub("backup")})
      ->Run(files, ctx);
  EXPECT_EQ(ReadFileText(dir.Sub("backup/a")), "a");
  EXPECT_EQ(ReadFileText(dir.Sub("backup/c")), "c");

  // A per-file destination built from the file's own name.
  Make({"OpIndex=1", "OpSource=%File", "OpSingleArg=1",
        "OpDestination=%File=\"'/'P'/moved/'N'.old'\""})
      ->Run(files, ctx);
  EXPECT_EQ(ReadFileText(dir.Sub("moved/b.old")), "b");
  EXPECT_FALSE(Exists(files[1].Name));
}

// Text that a macro takes from a file's name separates nothing and matches
// nothing but itself; a text built on the placeholder (no file was
// reported) names nothing at all.
TEST_F(FileOpActionTest, ActsOnlyOnWhatTheConfigurationNames) {
  for (const char* bystander : {"w/a", "w/keep", "w/pageXid=3", "old.tmp"}) {
    dir.Write(bystander, "k");
  }
  FileList hostile = Files({"w/a;b", "w/*", "w/page?id=3"});
  Make({"OpIndex=3", "OpSource=%File", "OpSingleArg=1"})->Run(hostile, ctx);
  for (const FileData& f : hostile) EXPECT_FALSE(Exists(f.Name)) << f.Name;
  for (const char* bystander : {"w/a", "w/keep", "w/pageXid=3"}) {
    EXPECT_TRUE(Exists(dir.Sub(bystander))) << bystander;
  }

  const size_t said = sink.Text().size();
  const std::string source = "OpSource=" + dir.str() + "%Path/*.tmp";
  Make({"OpIndex=3", source})->Run(FileList(), ctx);
  EXPECT_TRUE(Exists(dir.Sub("old.tmp")));
  EXPECT_EQ(sink.Text().substr(said),
            "Delete: not done, no file was reported for " + source + "\n");
}

TEST_F(FileOpActionTest, TwoFilesOfOneRunNeverEndOnOneName) {
  // One by one to a folder that does not exist yet: it is made a folder.
  FileList files = Files({"a", "b", "c"});
  Make({"OpIndex=1", "OpSource=%File", "OpSingleArg=1", "OpDestination=" + dir.Sub("new")})
      ->Run(files, ctx);
  for (const char* n : {"a", "b", "c"}) EXPECT_EQ(ReadFileText(dir.Sub("new/") + n), n);

  // Two files of one name: the second stays where it is, and says why.
  FileList twins = {FileData(dir.Write("d1/x", "one"), 0.0, 3, kStateAdded),
                    FileData(dir.Write("d2/x", "two"), 0.0, 3, kStateAdded)};
  Make({"OpIndex=1", "OpSource=%File", "OpSingleArg=1", "OpDestination=" + dir.Sub("out/")})
      ->Run(twins, ctx);
  EXPECT_EQ(ReadFileText(dir.Sub("out/x")), "one");
  EXPECT_EQ(ReadFileText(dir.Sub("d2/x")), "two");
  EXPECT_NE(sink.Text().find("Cannot move \"" + dir.Sub("d2/x") + "\" to \"" + dir.Sub("out/x") +
                             "\": another file of this run was put there\n"),
            std::string::npos)
      << sink.Text();
}

TEST_F(FileOpActionTest, AnEmptyDestinationSkipsTheBatch) {
  FileList files = Files({"a"});
  Make({"OpIndex=0", "OpSource=%File"})->Run(files, ctx);
  Make({"OpIndex=1", "OpSource=%File", "OpDestination="})->Run(files, ctx);
  EXPECT_TRUE(Exists(files[0].Name));
  EXPECT_EQ(sink.Text(), "");
}

TEST_F(FileOpActionTest, DescribesOperationSourceAndDestination) {
  EXPECT_EQ(Make({"OpSource=a", "OpDestination=b"})->Describe(), "Copy: a b");
  EXPECT_EQ(Make({"OpIndex=3", "OpSource=a", "OpDestination=b"})->Describe(), "Delete: a ");
  EXPECT_EQ(Make({"OpIndex=5"})->Describe(), "Copy:  ");
  auto* op = static_cast<FileOpAction*>(Make({"ShowProgress=0", "AllowUndo=1"}).release());
  EXPECT_EQ(op->Flags(), 0x654);
  delete op;
}

TEST_F(FileOpActionTest, WithoutAnyoneToAskNothingIsDeleted) {
  FileList files = Files({"a"});
  Make({"OpIndex=3", "OpSource=%File", "YesToAll=0"})->Run(files, ctx);
  EXPECT_TRUE(Exists(files[0].Name));
}

TEST_F(FileOpActionTest, AsksInAQuestionDialogAndAClosedDialogMeansNo) {
  testing::Xvfb xvfb;
  if (!xvfb.ok() || !IsExecutableProgram("zenity")) GTEST_SKIP() << "no Xvfb or zenity";
  FileList files = Files({"keep.txt"});
  auto action = Make({"OpIndex=3", "OpSource=%File", "YesToAll=0"}, xvfb.display());
  std::atomic<bool> returned{false};
  std::thread item([&] {
    action->Run(files, ctx);
    returned = true;
  });
  testing::StopAndJoin joiner(stop, item);

  auto question = [&] {
    for (const TopWindow& w : OpenX11Windows(xvfb.display())->List()) {
      if (w.title == "File operation") return w;
    }
    return TopWindow();
  };
  ASSERT_TRUE(WaitUntil([&] { return question().id != 0; }, 60000));
  EXPECT_FALSE(returned.load());
  OpenX11Windows(xvfb.display())->RequestClose(question());
  ASSERT_TRUE(WaitUntil([&] { return returned.load(); }, 30000));
  EXPECT_TRUE(Exists(files[0].Name));
}

}  // namespace
}  // namespace sentrel

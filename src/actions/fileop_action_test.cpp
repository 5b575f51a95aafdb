#include "actions/fileop_action.h"

#include <gtest/gtest.h>

#include "fileop_action_fixture.h"

namespace sentrel {
namespace {

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
        "OpDestination=%File=\"D'/'P'/moved/'N'.old'\""})
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

}  // namespace
}  // namespace sentrel

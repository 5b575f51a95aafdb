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

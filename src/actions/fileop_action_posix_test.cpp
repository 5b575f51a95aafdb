// The question dialog of file operations on an X display.
#include <gtest/gtest.h>

#include <thread>

#include "fileop_action_fixture.h"
#include "platform/process.h"
#include "platform/top_windows.h"
#include "xvfb.h"

namespace sentrel {
namespace {

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

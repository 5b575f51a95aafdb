// A dry run of the real executable: every kind of action says what it would
// do, and the tree, the programs, the trash and the saved state stay as they
// were.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <string>

#include "child_process.h"
#include "console_program_fixture.h"
#include "record_args.h"
#include "tree_listing.h"
#include "wait_until.h"

namespace sentrel {
namespace {

TEST_F(ConsoleProgramTest, DryRunOfEveryActionKindChangesNothingAndStartsNothing) {
  const std::string tree = dir_.Sub("tree");
  for (const char* f : {"tree/keep.txt", "tree/a.tmp", "tree/b.tmp", "tree/old.txt",
                        "tree/c.log", "tree/list.txt", "tree/sub/c.txt", "tree/c\nd.tmp"}) {
    dir_.Write(f, f);
  }
  const std::string record = dir_.Sub("starts.txt");
  // A process stands for a window where there is no display.
  ChildProcess target({"/bin/sh", "-c", "exec sleep 2999"});
  ASSERT_TRUE(WaitUntil([&] { return target.Running(); }));
  const std::string config = Config(
      "IsDirectory=0\nFileName=" + tree + "/keep.txt\nInterval=1\nSaveState=1\n"
      "Action=0\nListName=" + tree + "/list.txt\nListAppend=1\n"
      "Action=0\nListName=" + tree + "/second.txt\nListDelete=1\n"
      "Action=1\nCommand=" + RecordArgsProgram() + "\nParams=-C %File\n"
      "Action=2\nMessage=seen %File\n"
      "Action=3\nWaveFile=" + tree + "/a.wav\nBeep=1\n"
      "Action=4\nOpIndex=3\nOpSource=" + tree + "/*.tmp\n"
      "Action=4\nOpIndex=1\nOpSource=" + tree + "/old.txt\nOpDestination=" + tree + "/out/\n"
      "Action=4\nOpIndex=0\nOpSource=" + tree + "/sub\nOpDestination=" + tree + "/copy\n"
      "Action=4\nOpIndex=2\nOpSource=%File\nOpDestination=renamed.txt\n"
      "Action=4\nOpIndex=3\nAllowUndo=1\nOpSource=" + tree + "/c.log\n"
      "Action=5\nkillTitleMask=sleep 2999\nkillForcedKill=1\nkillCloseAll=1\n"
      "EOF\n");
  const std::string before = TreeListing(dir_.path());
  std::vector<std::string> env = env_;
  env.insert(env.end(), {"DISPLAY=", "WAYLAND_DISPLAY=", "RECORD_ARGS_FILE=" + record,
                         "XDG_DATA_HOME=" + dir_.Sub("data"),
                         "XDG_STATE_HOME=" + dir_.Sub("state")});

  ChildProcess p({SENTREL_BINARY, "--dry-run", config}, "", env, ChildProcess::Errors::kApart);
  const std::vector<std::string> expected = {
      "would append 1 line to " + tree + "/list.txt\n",
      "would write 1 line to " + tree + "/second.txt (replacing its content)\n",
      "would start " + RecordArgsProgram() + " -C " + tree + "/keep.txt\n",
      "would show a popup: seen " + tree + "/keep.txt\n",
      "would play " + tree + "/a.wav and beep\n",
      "would delete " + tree + "/a.tmp\nwould delete " + tree + "/b.tmp\n",
      // A line feed in a name keeps the name on its line.
      "would delete $'" + tree + "/c\\nd.tmp'\n",
      "would create folder " + tree + "/out\n",
      "would move " + tree + "/old.txt -> " + tree + "/out/old.txt\n",
      "would copy " + tree + "/sub -> " + tree + "/copy\n",
      "would rename " + tree + "/keep.txt -> " + tree + "/renamed.txt\n",
      "would move " + tree + "/c.log to the trash\n",
      "would end the program of window \"sleep 2999\"\n",
      "would delete " + tree + "/second.txt\n",
  };
  auto all_said = [&] {
    for (const std::string& line : expected) {
      if (p.output().find(line) == std::string::npos) return false;
    }
    return true;
  };
  const bool said = p.ReadUntil(all_said, 60000);
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
  ASSERT_TRUE(said) << p.output() << p.errors();
  EXPECT_NE(p.output().find("Dry run:"), std::string::npos);
  EXPECT_EQ(p.output().find('\a'), std::string::npos);

  EXPECT_EQ(TreeListing(dir_.path()), before);
  EXPECT_FALSE(std::filesystem::exists(record));
  EXPECT_TRUE(target.Running());
}

}  // namespace
}  // namespace sentrel

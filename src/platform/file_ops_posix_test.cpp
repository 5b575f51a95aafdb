// What the configuration check meets on Linux: a device that never ends and
// a folder that this user may not search. The real executable.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "sentrel_run.h"
#include "temp_dir.h"
#include "user_namespace.h"

namespace sentrel {
namespace {

TEST(ConfigurationFileTest, AFileThatNeverEndsIsRefusedAtOnce) {
  TempDir dir, home;
  const std::string line =
      "/dev/zero:1: error: the line is longer than 1 MiB, the most a configuration line may "
      "hold; the file is not used\n";
  SentrelRun run = RunSentrel({"--check", "/dev/zero"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, line);
  run = RunSentrel({"/dev/zero"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err, line);
  EXPECT_NE(run.out.find("Can not load configuration file \"/dev/zero\".\n"), std::string::npos);
}

// The folder exists; only its parent may not be searched. Root may search
// everything, so as root the check runs in a user namespace, where a folder
// of an unmapped owner is as closed to it as to anybody else.
TEST(ConfigurationFileTest, AFolderThatMayNotBeSearchedIsNotCalledMissing) {
  auto expect = [](const std::string& tree) {
    SentrelRun run = RunSentrel({"--check", "my.mon"}, tree, tree);
    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.err, "my.mon:2: warning: FileName: folder \"" + tree +
                           "/locked/inside/\" cannot be read: permission denied; the item finds "
                           "nothing there until it can read it\n");
  };
  if (const char* tree = std::getenv("SENTREL_LOCKED_TREE")) {
    if (!EnterUserNamespace(false)) GTEST_SKIP() << "no user namespace here";
    expect(tree);
    return;
  }
  TempDir dir;
  const std::string locked = dir.Sub("locked");
  std::filesystem::create_directories(dir.Path("locked/inside"));
  dir.Write("my.mon", "IsDirectory=1\nFileName=" + locked + "/inside\nAction=0\nEOF\n");
  if (geteuid() != 0) {
    ::chmod(locked.c_str(), 0600);
    expect(dir.str());
    ::chmod(locked.c_str(), 0700);
    return;
  }
  ASSERT_EQ(::chown(locked.c_str(), 65534, 65534), 0);
  ::chmod(locked.c_str(), 0700);
  ::setenv("SENTREL_LOCKED_TREE", dir.str().c_str(), 1);
  const ChildRun run = RunCurrentTestInChild("SENTREL_LOCKED_CHILD");
  ::unsetenv("SENTREL_LOCKED_TREE");
  ::chown(locked.c_str(), 0, 0);
  if (run.skipped) GTEST_SKIP() << "no user namespace here";
  EXPECT_EQ(run.code, 0) << run.output;
}

}  // namespace
}  // namespace sentrel

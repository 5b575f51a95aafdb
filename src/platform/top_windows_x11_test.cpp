// Sentrel where libX11 is not installed: the program still starts, and with a
// display named the terminate action works on processes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>

#include <filesystem>
#include <string>

#include "child_process.h"
#include "platform/process.h"
#include "private_mounts.h"
#include "temp_dir.h"
#include "wait_until.h"
#include "xvfb.h"

namespace sentrel {
namespace {

TEST(WithoutLibX11Test, TerminateActionEndsTheProcessWhoseCommandLineMatches) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_TEST_WITHOUT_LIBX11");
  testing::Xvfb xvfb;  // before the library goes: the server needs it
  if (!xvfb.ok()) GTEST_SKIP() << "no Xvfb";
  std::error_code ec;
  const std::string lib =
      std::filesystem::canonical("/usr/lib/x86_64-linux-gnu/libX11.so.6", ec).string();
  if (ec) GTEST_SKIP() << "libX11 is not where this test looks for it";
  // An empty file in the library's place: loading it fails as if it were absent.
  ASSERT_EQ(mount("/dev/null", lib.c_str(), nullptr, MS_BIND, nullptr), 0);

  ProcessOptions quiet;
  quiet.null_streams = true;
  SpawnedProcess victim = StartProcess({"sleep", "3599.25"}, quiet);
  ASSERT_TRUE(victim.valid());
  TempDir dir;
  const std::string config = dir.Write("kill.mon",
                                       "FileName=" + dir.Sub("absent") +
                                           "\nInterval=1\nAction=5\nkillTitleMask=sleep 3599.25\n"
                                           "killForcedKill=1\nEOF\n");
  ChildProcess sentrel({SENTREL_BINARY, config}, "",
                       {"DISPLAY=" + xvfb.display(), "XDG_CONFIG_HOME=" + dir.str()});
  ASSERT_TRUE(sentrel.WaitForOutput("exit.\n")) << sentrel.output();
  EXPECT_TRUE(WaitUntil([&] { return victim.HasExited(); }, 30000));
  sentrel.Signal(SIGTERM);
  EXPECT_EQ(sentrel.WaitExit(), 0) << sentrel.output();
  victim.Terminate(true);
}

}  // namespace
}  // namespace sentrel

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "child_process.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/top_windows.h"
#include "wait_until.h"

namespace sentrel {
namespace {

constexpr const char* kInOwnPidSpace = "SENTREL_PID_REUSE_CHILD";

TopWindow FindTitled(WindowSystem& windows, const std::string& title) {
  TopWindow found;
  WaitUntil([&] {
    for (const TopWindow& w : windows.List()) {
      if (w.title == title) found = w;
    }
    return found.id != 0;
  });
  return found;
}

// Without a display a process stands for a window. Its number can be given
// to a new process between the listing and the signal: the signal reaches
// only the process that was listed. The test runs again as the first
// process of a process-number space of its own, where the next number can
// be chosen.
TEST(ProcessWindowsTest, ASignalNeverReachesANewProcessUnderTheListedNumber) {
  if (std::getenv(kInOwnPidSpace) == nullptr) {
    const std::string unshare = "/usr/bin/unshare";
    if (access(unshare.c_str(), X_OK) != 0) GTEST_SKIP() << "no unshare";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    ChildProcess child({unshare, "--user", "--map-root-user", "--pid", "--fork", "--mount-proc",
                        ProgramPath(),
                        std::string("--gtest_filter=") + info->test_suite_name() + "." +
                            info->name()},
                       "", {std::string(kInOwnPidSpace) + "=1"});
    const int code = child.WaitExit(120000);
    const std::string& out = child.output();
    if (out.find("[  SKIPPED ]") != std::string::npos ||
        (out.find("[  PASSED  ]") == std::string::npos &&
         out.find("[  FAILED  ]") == std::string::npos)) {
      GTEST_SKIP() << "no process-number space of our own here: " << out;
    }
    EXPECT_EQ(code, 0) << out;
    return;
  }

  ProcessOptions quiet;
  quiet.null_streams = true;
  auto windows = OpenProcessWindows();
  SpawnedProcess listed = StartProcess({"sleep", "1001"}, quiet);
  ASSERT_TRUE(listed.valid());
  const TopWindow window = FindTitled(*windows, "sleep 1001");
  ASSERT_EQ(window.id, static_cast<uint64_t>(listed.pid()));
  listed.Terminate(true);
  ASSERT_EQ(listed.Wait(nullptr, 30000), SpawnedProcess::WaitResult::kExited);

  // A later start time, and the listed number for the next process.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::ofstream next("/proc/sys/kernel/ns_last_pid");
  if (!(next << window.id - 1 << std::flush)) GTEST_SKIP() << "the next number cannot be chosen";
  next.close();
  SpawnedProcess stranger = StartProcess({"sleep", "1002"}, quiet);
  if (static_cast<uint64_t>(stranger.pid()) != window.id) {
    GTEST_SKIP() << "the number went elsewhere";
  }

  windows->ForceEnd(window);
  windows->RequestClose(window);
  EXPECT_EQ(stranger.Wait(nullptr, 1000), SpawnedProcess::WaitResult::kTimedOut);

  // Listed again, it is the one that is meant.
  windows->ForceEnd(FindTitled(*windows, "sleep 1002"));
  ASSERT_EQ(stranger.Wait(nullptr, 30000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(stranger.exit_status(), 128 + 9);
}

}  // namespace
}  // namespace sentrel

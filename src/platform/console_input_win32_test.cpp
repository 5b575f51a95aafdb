#include "platform/console_input.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "platform/process_requests.h"
#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// Ctrl-C typed in the program's console ends the wait for a key as a stop,
// so that the program ends as after the exit key. (Wine delivers Ctrl-C but
// not Ctrl-Break to a process's own console.)
TEST(ConsoleStopTest, CtrlCInTheConsoleEndsTheWaitForAKey) {
  FreeConsole();
  ASSERT_TRUE(AllocConsole());
  ListenForProcessRequests();
  auto input = OpenConsoleInput();
  // Were the event never handled, the wait would not end: end the test
  // process with a failure instead of holding the suite.
  std::thread guard([] {
    Sleep(60000);
    std::fprintf(stderr, "no stop within 60 s of Ctrl-C\n");
    ExitProcess(1);
  });
  guard.detach();
  std::thread sender([] {
    Sleep(200);
    GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  });
  EXPECT_EQ(input->WaitKey(), ConsoleInput::kStop);
  sender.join();
}

TEST(ConsoleStopTest, TheHelpNamesTheWaysToStopOnWindows) {
  TempDir dir, home;
  SentrelRun run = RunSentrel({"--help"}, dir.str(), home.str());
  EXPECT_NE(run.out.find("until you press x or Ctrl-C or Ctrl-Break, or close its console "
                         "window.\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("SIG"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace sentrel

// One pass on the real executable, as a script or a scheduled task runs it:
// its exit status and its lines must tell the truth about what was done.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "child_process.h"
#include "record_args.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class OnceStatusTest : public ::testing::Test {
 protected:
  OnceStatusTest() {
    dir_.Write("old/a.txt");
    dir_.Touch("old/a.txt", -std::chrono::hours(48));
    root_ = dir_.Sub("old") + kPathSeparator;
    // record_args writes where its folder has "rec"; elsewhere it exits 3.
    dir_.MakeDir("rec");
    dir_.MakeDir("nowhere");
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "XDG_STATE_HOME=" + home_.str(), "LC_ALL=C",
            "RECORD_ARGS_FILE=rec" + std::string(1, kPathSeparator) + "out.txt"};
  }
  // An item that reports the old file at its first check; its actions
  // follow from line 6 on.
  std::string Item(const std::string& actions) const {
    return "IsDirectory=1\nFileName=" + root_ +
           "\nConditionType=1\nOlderInterval=60\nIgnoreAdded=0\n" + actions + "EOF\n";
  }
  std::string Recorder(const std::string& folder) const {
    return "Action=1\nCommand=" + RecordArgsProgram() + "\nDir=" + dir_.Sub(folder) +
           "\nWait=1\n";
  }
  struct Run {
    int code;
    std::string out, err;
  };
  Run Start(const std::string& config, const std::vector<std::string>& options) {
    dir_.Write("my.mon", config);
    std::vector<std::string> argv = {SENTREL_BINARY};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("my.mon");
    ChildProcess p(argv, dir_.str(), env_, ChildProcess::Errors::kApart);
    Run run{p.WaitExit(60000), "", ""};
    run.out = p.output();
    run.err = p.errors();
    return run;
  }
  std::string At(int line) const {
    return "my.mon:" + std::to_string(line) + ": item \"" + root_ + "\": ";
  }

  TempDir dir_, home_;
  std::string root_;
  std::vector<std::string> env_;
};

// A program waited for that exits non-zero, and a file operation that fails,
// are failed actions like any other: said on stderr with the line and the
// item, counted in the status; the actions after them still run.
TEST_F(OnceStatusTest, AFailedProgramOrFileOperationIsAnErrorAndTheStatusOne) {
  Run run = Start(Item(Recorder("nowhere") + Recorder("")), {"--once"});
  EXPECT_EQ(run.code, 1) << run.err;
  EXPECT_NE(run.err.find(At(6) + "Execute program: \"" + RecordArgsProgram() +
                         "\" exited with status 3\n"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(RecordedStarts(dir_.Sub("rec/out.txt")).size(), 1u);

  dir_.Write("blocker");
  run = Start(Item("Action=4\nOpIndex=0\nOpSource=" + dir_.Sub("old/a.txt") +
                   "\nOpDestination=" + dir_.Sub("blocker/sub/") + "\n" + Recorder("")),
              {"--once", "--log", "run.log"});
  EXPECT_EQ(run.code, 1);
  // The operation's own line stays where it was; the error is said besides,
  // and logged as one.
  EXPECT_NE(run.out.find("Cannot "), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(At(6) + "File operation: cannot "), std::string::npos) << run.err;
  std::ifstream log(dir_.Path("run.log"));
  const std::string logged((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(logged.find(" ERROR " + At(6) + "File operation: cannot "), std::string::npos)
      << logged;
  EXPECT_EQ(RecordedStarts(dir_.Sub("rec/out.txt")).size(), 2u);
}

// A nightly item tried by day: the pass says that its window is closed and
// when it opens, --ignore-window makes it check now, and monitoring names
// the item that waits instead of watching nothing in silence.
TEST_F(OnceStatusTest, AClosedWindowIsSaidAndCanBeIgnoredForOnePass) {
  // A window of an hour that begins two hours from now is closed for more
  // than the test takes.
  const std::time_t now = std::time(nullptr);
  const int hour = (std::localtime(&now)->tm_hour + 2) % 24;
  char window[64];
  std::snprintf(window, sizeof window, "WorkHours=1\nTimeInterval=%02d:00:00 - %02d:59:59\n",
                hour, hour);
  const std::string config = Item(std::string(window) + Recorder(""));
  char opens[16];
  std::snprintf(opens, sizeof opens, " at %02d:00:00", hour);

  Run closed = Start(config, {"--once"});
  EXPECT_EQ(closed.code, 0) << closed.err;
  const size_t at = closed.out.find("my.mon:1: item \"" + root_ +
                                    "\": not checked, its window is closed (next opens ");
  ASSERT_NE(at, std::string::npos) << closed.out;
  const std::string line = closed.out.substr(at, closed.out.find('\n', at) - at);
  EXPECT_NE(line.find(std::string(opens) + "; --ignore-window tries it now)"), std::string::npos)
      << line;
  EXPECT_FALSE(fs::exists(dir_.Path("rec/out.txt")));

  Run tried = Start(config, {"--once", "--ignore-window"});
  EXPECT_EQ(tried.code, 0) << tried.err;
  EXPECT_EQ(tried.out.find("its window is closed"), std::string::npos) << tried.out;
  EXPECT_EQ(RecordedStarts(dir_.Sub("rec/out.txt")).size(), 1u);

  dir_.Write("my.mon", config);
  ChildProcess p({SENTREL_BINARY, "--dry-run", "my.mon"}, dir_.str(), env_,
                 ChildProcess::Errors::kApart);
  ASSERT_TRUE(p.WaitForOutput(" (first checks took ")) << p.output();
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(p.output().find("Watching 0 items; \"" + root_ +
                            "\" waits for its window, which next opens "),
            std::string::npos)
      << p.output();
}

}  // namespace
}  // namespace sentrel

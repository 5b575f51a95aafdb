// The execute action with the Linux shell, /proc and the desktop opener.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "actions/exec_action.h"
#include "exec_action_fixture.h"

namespace sentrel {
namespace {

// Linux takes one argument of 128 KiB at most, and all of them within its
// ARG_MAX: a batch beyond that is started in parts, every name whole, and a
// name that alone cannot fit is said and left out.
TEST_F(ExecActionTest, ABatchTooLongForOneStartIsSplitNeverCut) {
  std::vector<std::string> names;
  long arg_max = sysconf(_SC_ARG_MAX);
  const int count = static_cast<int>(std::min<long>(arg_max, 6L << 20) / 100000) + 2;
  for (int i = 0; i < count; ++i) names.push_back("/data/" + std::to_string(i) + std::string(100000, 'n'));
  const std::string huge = "/data/" + std::string(200000, 'h');
  names.insert(names.begin() + 1, huge);
  size_t starts = 0;
  std::string errors;
  const std::vector<std::string> got = RunBatch(names, starts, errors);

  EXPECT_GE(starts, 2u);
  names.erase(names.begin() + 1);
  EXPECT_TRUE(got == names) << got.size() << " arguments arrived of " << names.size();
  EXPECT_NE(errors.find(huge.substr(0, 40)), std::string::npos) << errors;
}

TEST_F(ExecActionTest, AShellNamedAsTheCommandGetsEachNameAsData) {
  const std::string pwned = dir_.Sub("pwned");
  const std::vector<std::string> names = {
      "/in/$(touch " + pwned + ")",
      "/in/`touch " + pwned + "`",
      "/in/a; touch " + pwned,
      "/in/a | touch " + pwned,
      "/in/a && touch " + pwned + " &",
      "/in/it's \"quoted\" '",
      "/in/\" \"--injected",
      "/in/two  spaces\tand tab",
      "/in/back\\slash\\",
      "/in/new\nline",
  };
  FileList files;
  for (const std::string& n : names) files.emplace_back(n, 0.0, 1, kStateAdded);
  // Even a shell that the user names as the command gets each name as data.
  const std::string out = dir_.Sub("shell.txt");
  Configure({"Command=sh", "Params=-c 'printf \"%%s|\" \"$@\" > " + out + "' sh %(%File %)",
             "Wait=1"});
  action_.Run(files, ctx_);
  std::string joined;
  for (const std::string& n : names) joined += n + "|";
  EXPECT_EQ(ReadFileText(out), joined);
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST_F(ExecActionTest, HiddenShowGivesTheNullDeviceOthersShareOurStreams) {
  const std::string out = dir_.Sub("fds.txt");
  // The shell reads its own descriptors before it redirects the output.
  Configure({"Command=sh",
             "Params=-c 'printf \"%%s\\n\" \"$(readlink /proc/$$/fd/0)\" "
             "\"$(readlink /proc/$$/fd/1)\" \"$(readlink /proc/$$/fd/2)\" >> " + out + "'",
             "Wait=1", "Show=3"});
  action_.Run(FileList(), ctx_);
  EXPECT_EQ(ReadFileText(out), "/dev/null\n/dev/null\n/dev/null\n");
  std::filesystem::remove(out);
  Configure({"Show=2"});
  action_.Run(FileList(), ctx_);
  std::string ours;
  for (int fd = 0; fd <= 2; ++fd) {
    ours += std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).string() + "\n";
  }
  EXPECT_EQ(ReadFileText(out), ours);
}

TEST_F(ExecActionTest, AStopRequestEndsTheWaitAndNoFurtherBatchStarts) {
  const std::string pids = dir_.Sub("pids.txt");
  Configure({"Command=sh", "Params=-c 'echo $$ >> " + pids + "; exec sleep 30'", "MultiArgs=0",
             "Wait=1", "Show=3"});
  std::thread stopper([&] {
    WaitUntil([&] { return !ReadFileText(pids).empty(); });
    stop_ = true;
    stop_wakeup_.Signal();
  });
  action_.Run(Files({"/1", "/2", "/3"}), ctx_);
  stopper.join();
  const std::string text = ReadFileText(pids);
  ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  const int pid = std::stoi(text);
  EXPECT_EQ(kill(pid, 0), 0);  // still running: the stop ends the wait, not the program
  kill(pid, SIGKILL);
}

TEST_F(ExecActionTest, DocumentsAndAddressesGoToTheDesktopOpener) {
  // A stand-in opener that records what it is asked to open.
  const std::string bin = dir_.Sub("bin");
  std::filesystem::create_directory(bin);
  std::filesystem::create_symlink(kRecordArgs, bin + "/xdg-open");
  const std::string old_path = getenv("PATH") ? getenv("PATH") : "";
  SetEnvironment("PATH", bin + ":" + old_path);

  const std::string doc = dir_.Write("notes.txt", "hello");
  Configure({"Command=" + doc, "Params=%File", "Wait=1"});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=https://example.org/a?b=1&c=2"});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=notes.txt", "Dir=" + dir_.str()});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=no-such-program-or-document", "Dir="});
  action_.Run(Files({"/a"}), ctx_);
  SetEnvironment("PATH", old_path);

  EXPECT_EQ(Starts(), (std::vector<Start>{{doc}, {"https://example.org/a?b=1&c=2"}, {"notes.txt"}}));
}

}  // namespace
}  // namespace sentrel

#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>

#include "record_args.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

const std::string kRecordArgs = RecordArgsProgram();

// The state letter of /proc/<pid>/stat ('Z' for a zombie), or 0 when gone.
char ProcessState(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t paren = text.rfind(')');
  if (paren == std::string::npos || paren + 2 >= text.size()) return 0;
  return text[paren + 2];
}

std::string FieldOfStatus(int pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field + ":", 0) == 0) {
      size_t v = line.find_first_not_of(" \t", field.size() + 1);
      return v == std::string::npos ? "" : line.substr(v);
    }
  }
  return "";
}

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() : record_file_(dir_.Sub("args.txt")) {
    setenv("RECORD_ARGS_FILE", record_file_.c_str(), 1);
  }
  ~ProcessTest() override { unsetenv("RECORD_ARGS_FILE"); }

  TempDir dir_;
  std::string record_file_;
};

TEST_F(ProcessTest, ArgumentsReachTheProgramExactlyInItsDirectory) {
  const std::vector<std::string> args = {"$(touch pwned)", "`touch pwned`", "a; touch pwned",
                                         "it's \"quoted\"", "two  spaces", "$HOME", "*", ""};
  std::vector<std::string> argv = {kRecordArgs};
  argv.insert(argv.end(), args.begin(), args.end());
  std::filesystem::create_directory(dir_.Sub("work"));
  setenv("RECORD_ARGS_FILE", "relative.txt", 1);  // opened by the child, in its directory
  ProcessOptions options;
  options.directory = dir_.Sub("work");
  SpawnedProcess child = StartProcess(argv, options);
  ASSERT_TRUE(child.valid());
  EXPECT_EQ(child.Wait(), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(child.exit_status(), 0);
  EXPECT_FALSE(child.valid());
  EXPECT_EQ(RecordedStarts(dir_.Sub("work/relative.txt")),
            (std::vector<std::vector<std::string>>{args}));
  EXPECT_FALSE(std::filesystem::exists(dir_.Sub("work/pwned")));
}

TEST_F(ProcessTest, FailuresToStartGiveAnEmptyHandleAndTheErrorNumber) {
  int error = 0;
  SpawnedProcess missing = StartProcess({"sentrel-no-such-program-xyz"}, {}, &error);
  EXPECT_FALSE(missing.valid());
  EXPECT_EQ(error, ENOENT);
  EXPECT_EQ(missing.Wait(), SpawnedProcess::WaitResult::kNoProcess);

  ProcessOptions bad_dir;
  bad_dir.directory = dir_.Sub("does-not-exist");
  EXPECT_FALSE(StartProcess({kRecordArgs}, bad_dir, &error).valid());
  EXPECT_NE(error, 0);
  EXPECT_FALSE(StartProcess({}, {}, &error).valid());
  EXPECT_FALSE(std::filesystem::exists(record_file_));
}

TEST_F(ProcessTest, ExitStatusTellsCodeOrSignal) {
  SpawnedProcess fails = StartProcess({"false"});
  ASSERT_EQ(fails.Wait(), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(fails.exit_status(), 1);

  SpawnedProcess sleeper = StartProcess({"sleep", "30"});
  ASSERT_TRUE(sleeper.valid());
  EXPECT_FALSE(sleeper.HasExited());
  sleeper.Terminate(/*forced=*/true);
  ASSERT_EQ(sleeper.Wait(), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(sleeper.exit_status(), 128 + SIGKILL);
}

TEST_F(ProcessTest, WaitEndsOnStopRequestOrTimeLimitAndLeavesTheProgramRunning) {
  SpawnedProcess sleeper = StartProcess({"sleep", "30"});
  ASSERT_TRUE(sleeper.valid());
  EXPECT_EQ(sleeper.Wait(nullptr, 50), SpawnedProcess::WaitResult::kTimedOut);

  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop = true;
  });
  EXPECT_EQ(sleeper.Wait([&] { return stop.load(); }), SpawnedProcess::WaitResult::kStopped);
  stopper.join();
  EXPECT_TRUE(sleeper.valid());
  EXPECT_NE(ProcessState(sleeper.pid()), 0);
  sleeper.Terminate();
  EXPECT_EQ(sleeper.Wait(), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(sleeper.exit_status(), 128 + SIGTERM);
}

TEST_F(ProcessTest, HiddenStreamsAreTheNullDeviceAndNoOtherDescriptorLeaks) {
  // A descriptor of ours without close-on-exec, as a careless library leaves.
  int leaky = dup(STDOUT_FILENO);
  ASSERT_GE(leaky, 3);
  // We ignore SIGPIPE; the program must not inherit that.
  struct sigaction old_pipe;
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &old_pipe);

  ProcessOptions hidden;
  hidden.null_streams = true;
  SpawnedProcess child = StartProcess({"sleep", "30"}, hidden);
  sigaction(SIGPIPE, &old_pipe, nullptr);
  close(leaky);
  ASSERT_TRUE(child.valid());
  const std::string fd_dir = "/proc/" + std::to_string(child.pid()) + "/fd";
  // The descriptors are set up before the program image is replaced.
  ASSERT_TRUE(WaitUntil([&] { return FieldOfStatus(child.pid(), "Name") == "sleep"; }));
  for (int fd = 0; fd <= 2; ++fd) {
    EXPECT_EQ(std::filesystem::read_symlink(fd_dir + "/" + std::to_string(fd)), "/dev/null");
  }
  EXPECT_FALSE(std::filesystem::exists(fd_dir + "/" + std::to_string(leaky)));
  const unsigned long long ignored = std::stoull(FieldOfStatus(child.pid(), "SigIgn"), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u);
  child.Terminate(true);
  child.Wait();
}

TEST_F(ProcessTest, NoZombieStaysAfterAThousandStartsThatNobodyWaitsFor) {
  std::vector<int> pids;
  for (int i = 0; i < 1000; ++i) {
    SpawnedProcess child = StartProcess({"true"});
    ASSERT_TRUE(child.valid());
    pids.push_back(child.pid());
  }  // every handle dropped at once
  ASSERT_TRUE(WaitUntil([] { return ChildrenAwaitingReap() == 0; }));
  for (int pid : pids) {
    // A reused pid may be running something else, but never our zombie.
    EXPECT_NE(ProcessState(pid), 'Z') << pid;
  }

  // A wait that was given up hands the child to the reaper as well.
  SpawnedProcess sleeper = StartProcess({"sleep", "0.2"});
  const int pid = sleeper.pid();
  EXPECT_EQ(sleeper.Wait([] { return true; }), SpawnedProcess::WaitResult::kStopped);
  sleeper.Detach();
  EXPECT_FALSE(sleeper.valid());
  ASSERT_TRUE(WaitUntil([] { return ChildrenAwaitingReap() == 0; }));
  EXPECT_NE(ProcessState(pid), 'Z');
}

TEST(SplitArgumentsTest, FollowsShellQuotingWithoutAnyExpansion) {
  using Args = std::vector<std::string>;
  const std::pair<const char*, Args> cases[] = {
      {"", {}},
      {"  \t\n ", {}},
      {"a b\tc\nd", {"a", "b", "c", "d"}},
      {"  lead  trail  ", {"lead", "trail"}},
      {"'a b' \"c d\"", {"a b", "c d"}},
      {"pre'mid dle'post", {"premid dlepost"}},
      {"'' \"\"", {"", ""}},
      {"a\\ b", {"a b"}},
      {"\\'x\\\"", {"'x\""}},
      {"'it''s'", {"its"}},
      {"'a\\b'", {"a\\b"}},
      {"\"a\\b\\\"c\\\\d\\$e\"", {"a\\b\"c\\d$e"}},
      {"line\\\ncontinued", {"linecontinued"}},
      {"$(rm -rf x) `id` a;b a|b a&b $HOME ~ *", {"$(rm", "-rf", "x)", "`id`", "a;b", "a|b", "a&b",
                                                 "$HOME", "~", "*"}},
      {"'unclosed text", {"unclosed text"}},
      {"\"unclosed text", {"unclosed text"}},
      {"end\\", {"end\\"}},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(SplitArguments(text), want) << text;
  }
}

TEST(EnvironmentReferencesTest, SetVariablesAreReplacedOthersKept) {
  setenv("SENTREL_TEST_VAR", "/opt/tool", 1);
  unsetenv("SENTREL_TEST_UNSET");
  const std::pair<const char*, const char*> cases[] = {
      {"%SENTREL_TEST_VAR%/bin/run", "/opt/tool/bin/run"},
      {"x%SENTREL_TEST_VAR%%SENTREL_TEST_VAR%", "x/opt/tool/opt/tool"},
      {"%SENTREL_TEST_UNSET%/a", "%SENTREL_TEST_UNSET%/a"},
      {"100%%SENTREL_TEST_VAR%", "100%/opt/tool"},
      {"50% off", "50% off"},
      {"%%", "%%"},
      {"plain", "plain"},
  };
  for (const auto& [text, want] : cases) {
    EXPECT_EQ(ExpandEnvironmentReferences(text), want) << text;
  }
  unsetenv("SENTREL_TEST_VAR");
}

TEST(IsExecutableProgramTest, FindsProgramsInPathOrByTheirPath) {
  TempDir dir;
  const std::string doc = dir.Write("notes.txt", "hello");
  std::filesystem::create_directory(dir.Sub("bin"));
  const std::string tool = dir.Write("bin/tool", "#!/bin/sh\n");
  std::filesystem::permissions(tool, std::filesystem::perms::owner_all);

  EXPECT_TRUE(IsExecutableProgram("sh"));
  EXPECT_TRUE(IsExecutableProgram("/bin/sh"));
  EXPECT_TRUE(IsExecutableProgram(tool));
  EXPECT_TRUE(IsExecutableProgram("bin/tool", dir.str()));
  EXPECT_FALSE(IsExecutableProgram("bin/tool"));  // not from our own directory
  EXPECT_FALSE(IsExecutableProgram(doc));
  EXPECT_FALSE(IsExecutableProgram(dir.Sub("bin")));
  EXPECT_FALSE(IsExecutableProgram("sentrel-no-such-program-xyz"));
  EXPECT_FALSE(IsExecutableProgram(""));
}

}  // namespace
}  // namespace sentrel

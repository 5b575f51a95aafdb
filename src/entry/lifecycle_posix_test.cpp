// The running program and the world around it: a stop ends it at any moment
// (while its output is not read, while its configuration is a pipe nobody
// writes), SIGUSR1 asks for a check, the journal learns each line's weight.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "console_program_fixture.h"
#include "wait_until.h"

extern char** environ;

namespace sentrel {
namespace {

// Generous: a stop takes about a second, and the machine may be loaded.
constexpr int kStopDeadlineMs = 10000;
constexpr char kDropped[] = "has not yet taken the one before it";

// Waits up to `ms` for `pid` to end; its exit code, or -1 while it runs.
int WaitPid(pid_t pid, int ms) {
  int status = 0, code = -1;
  WaitUntil(
      [&] {
        if (waitpid(pid, &status, WNOHANG) != pid) return false;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      ms);
  return code;
}

// Starts sentrel on `config` without a graphical session, its input
// /dev/null, its output into `out_fd` and its errors into the file `errors`;
// its process id.
pid_t StartSentrel(const std::string& config, int out_fd, const std::string& errors,
                   std::vector<std::string> env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT, 0600);
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "DISPLAY=", 8) != 0 && std::strncmp(*e, "WAYLAND_DISPLAY=", 16) != 0) {
      env.push_back(*e);
    }
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(SENTREL_BINARY), const_cast<char*>(config.c_str()), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, SENTREL_BINARY, &actions, nullptr, argv, envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

TEST_F(ConsoleProgramTest, StopEndsTheProgramWhileNobodyReadsItsOutput) {
  // A popup without a graphical session goes to the console; each check of
  // the missing file shows one more, and the pipe holds one page.
  const std::string message(3000, 'm');
  const std::string config = Config("FileName=" + dir_.Sub("missing") +
                                    "\nInterval=1\nAction=2\nMessage=" + message + "\nEOF\n");
  int out[2];
  ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
  fcntl(out[1], F_SETPIPE_SZ, 4096);
  const std::string errors = dir_.Sub("errors.txt");
  const pid_t pid = StartSentrel(config, out[1], errors, env_);
  close(out[1]);
  ASSERT_GT(pid, 0);

  // The console did not take a message, and the next ones were dropped
  // without a thread left waiting for each.
  auto dropped = [&] {
    const std::string said = ReadFileText(errors);
    size_t n = 0;
    for (size_t at = said.find(kDropped); at != std::string::npos; at = said.find(kDropped, at + 1)) ++n;
    return n;
  };
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  auto threads = [&] {
    return std::distance(std::filesystem::directory_iterator(tasks), {});
  };
  const bool blocked = WaitUntil([&] { return dropped() >= 1; });
  const auto threads_then = blocked ? threads() : 0;
  const bool more = blocked && WaitUntil([&] { return dropped() >= 3; });
  const auto threads_now = more ? threads() : 0;
  kill(pid, SIGTERM);
  const int code = WaitPid(pid, kStopDeadlineMs);
  if (code == -1) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  close(out[0]);
  EXPECT_TRUE(more) << ReadFileText(errors);
  EXPECT_LE(threads_now, threads_then);
  EXPECT_EQ(code, 0) << "still running " << kStopDeadlineMs << " ms after SIGTERM";
}

TEST_F(ConsoleProgramTest, StopSignalsEndTheProgramWhileItsConfigurationIsNeverWritten) {
  const std::string fifo = dir_.Sub("never.mon");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Without a controlling terminal (as here) SIGHUP asks for a reload; with
  // one it is a stop like these (TerminalTest.HangUpOfItsTerminalEndsIt).
  for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
    ChildProcess p({SENTREL_BINARY, fifo}, "", env_);
    ASSERT_TRUE(p.WaitForOutput(kBanner));
    p.Signal(sig);
    EXPECT_EQ(p.WaitExit(kStopDeadlineMs), 0) << sig;
  }
}

TEST_F(ConsoleProgramTest, ConfigurationFromAPipeWithAWriterIsRead) {
  const std::string fifo = dir_.Sub("piped.mon");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] { std::ofstream(fifo) << "FileName=" << dir_.str() << "\nAction=0\nListName="
                                            << dir_.Sub("list.txt") << "\nEOF\n";
  });
  ChildProcess check({SENTREL_BINARY, "--check", fifo}, "", env_);
  EXPECT_EQ(check.WaitExit(), 0) << check.output();
  writer.join();
  EXPECT_NE(check.output().find("1 item, no problems"), std::string::npos) << check.output();
}

TEST_F(ConsoleProgramTest, Sigusr1ChecksAnItemWithALongIntervalNow) {
  dir_.MakeDir("tree/a/b");
  dir_.MakeDir("tree/c");
  const std::string list = dir_.Sub("list.txt");
  Config("IsDirectory=1\nFileName=" + dir_.Sub("tree") + "/\nSubdir=1\nInterval=3600\n"
         "Action=0\nListName=" + list + "\nEOF\n"
         "FileName=" + dir_.Write("watched.txt") + "\nInterval=3600\nEOF\n");
  ChildProcess p({SENTREL_BINARY, "my.mon"}, dir_.str(), env_);
  ASSERT_TRUE(p.WaitForOutput("\nWatching 4 folders in 2 items (first checks took ")) << p.output();
  dir_.Write("tree/a/new.txt", "x");
  p.Signal(SIGUSR1);
  EXPECT_TRUE(WaitUntil([&] { return ReadFileText(list).find("new.txt") != std::string::npos; }))
      << p.output();
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(p.output().find("\nMonitoring stopped.\n"), std::string::npos) << p.output();
}

TEST_F(ConsoleProgramTest, JournalLearnsWhichLinesAreWarningsAndWhichErrors) {
  const std::string errors = dir_.Sub("errors.txt");
  { std::ofstream(errors).flush(); }
  struct stat st;
  ASSERT_EQ(stat(errors.c_str(), &st), 0);
  std::vector<std::string> env = env_;
  env.push_back("JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino));
  const std::string config = Config("FileName=" + dir_.Sub("missing") + "\nInterval=3600\n"
                                    "Intervall=5\nAction=1\nCommand=/nonexistent/prog\nEOF\n");
  const int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = StartSentrel(config, out, errors, env);
  close(out);
  ASSERT_GT(pid, 0);
  const bool said = WaitUntil([&] {
    return ReadFileText(errors).find("cannot start") != std::string::npos;
  });
  kill(pid, SIGTERM);
  EXPECT_EQ(WaitPid(pid, kStopDeadlineMs), 0);
  const std::string text = ReadFileText(errors);
  EXPECT_TRUE(said) << text;
  EXPECT_NE(text.find("<4>" + config + ":3: warning: "), std::string::npos) << text;
  EXPECT_NE(text.find("<3>" + config + ":4: item \""), std::string::npos) << text;
  for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
    EXPECT_EQ(text[at], '<') << text.substr(at);
  }
}

}  // namespace
}  // namespace sentrel

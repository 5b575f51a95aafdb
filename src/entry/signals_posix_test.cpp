// The running program and the signals it is sent, as a service, a job of a
// terminal or a program under nohup meets them: each does what the
// documents say, whatever threads the options start, and a log that stops
// taking lines is said on stderr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console_program_fixture.h"
#include "wait_until.h"

extern char** environ;

namespace sentrel {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1};

struct Launch {
  std::vector<std::string> args;
  std::string output;          // both streams go here
  std::vector<int> ignored;    // set to be ignored before the start
  bool terminal = false;       // a pseudo-terminal as controlling terminal
  std::vector<std::string> env;
};

// A started sentrel in a session of its own: without a controlling terminal
// (as a service), or with a pseudo-terminal of its own as one.
class Detached {
 public:
  explicit Detached(const Launch& l) {
    std::vector<std::string> argv = {SENTREL_BINARY};
    argv.insert(argv.end(), l.args.begin(), l.args.end());
    std::vector<std::string> env = l.env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string(*e).rfind("DISPLAY=", 0) != 0 &&
          std::string(*e).rfind("WAYLAND_DISPLAY=", 0) != 0) {
        env.push_back(*e);
      }
    }
    std::vector<char*> args, envp;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string slave;
    if (l.terminal) {
      master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
      slave = ptsname(master_);
    }
    pid_ = fork();
    if (pid_ != 0) return;
    setsid();
    // The session leader's first terminal opened becomes its controlling one.
    const int in = l.terminal ? open(slave.c_str(), O_RDWR) : open("/dev/null", O_RDONLY);
    const int out = open(l.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    for (int sig : l.ignored) signal(sig, SIG_IGN);
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  ~Detached() {
    if (pid_ > 0 && code_ == -1) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  pid_t pid() const { return pid_; }
  void Signal(int sig) { kill(pid_, sig); }
  // Its exit code, 128 + the signal that ended it, or -1 while it runs.
  int WaitExit(int ms = 20000) {
    WaitUntil(
        [&] {
          int status = 0;
          if (code_ != -1 || waitpid(pid_, &status, WNOHANG) != pid_) return code_ != -1;
          code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
          return true;
        },
        ms);
    return code_;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  int code_ = -1;
};

// A hexadecimal signal set of /proc's status ("SigBlk:", "SigIgn:").
unsigned long long StatusMask(const std::string& status, const std::string& field) {
  const size_t at = status.find("\n" + field + ":");
  if (at == std::string::npos) return 0;
  return std::strtoull(status.c_str() + at + field.size() + 2, nullptr, 16);
}
bool Has(unsigned long long mask, int sig) { return (mask >> (sig - 1)) & 1u; }

class SignalsTest : public ConsoleProgramTest {
 protected:
  SignalsTest() {
    env_.push_back("XDG_STATE_HOME=" + dir_.Sub("state"));
    dir_.MakeDir("tree");
    dir_.MakeDir("real");
  }
  // An item checked only when asked (SIGUSR1), listing what it found.
  std::string AskedItem(const std::string& more = "") {
    return "IsDirectory=1\nFileName=" + dir_.Sub("tree") + "\nInterval=3600\nAction=0\nListName=" +
           dir_.Sub("list.txt") + "\nListAppend=1\n" + more + "EOF\n";
  }
  bool Said(const std::string& text) {
    return WaitUntil([&] { return ReadFileText(dir_.Sub("out.txt")).find(text) != std::string::npos; });
  }
  // A new file in the tree, then SIGUSR1: true once the item listed it.
  bool CheckedOnRequest(Detached& p, const std::string& name) {
    dir_.Write("tree/" + name);
    p.Signal(SIGUSR1);
    return WaitUntil([&] { return ReadFileText(dir_.Sub("list.txt")).find(name) != std::string::npos; });
  }
};

// With a log, saved states, real time and the watch on the configuration
// (each a thread of its own), no thread takes a stop or a reload with its
// default action: each does what it says, and the stop ends in order.
TEST_F(SignalsTest, EveryThreadLeavesTheSignalsToTheListenerWithALogAndEveryOtherThread) {
  const std::string log = dir_.Sub("s.log");
  Config("IsDirectory=1\nFileName=" + dir_.Sub("real") + "\nRealTime=1\nSaveState=1\n"
         "Interval=3600\nAction=0\nListName=" + dir_.Sub("real.txt") + "\nEOF\n" + AskedItem());
  Detached p({{"--log", log, dir_.Sub("my.mon")}, dir_.Sub("out.txt"), {}, false, env_});
  ASSERT_TRUE(Said("(first checks took ")) << ReadFileText(dir_.Sub("out.txt"));

  const std::string tasks = "/proc/" + std::to_string(p.pid()) + "/task";
  int threads = 0;
  for (const auto& task : std::filesystem::directory_iterator(tasks)) {
    const std::string status = ReadFileText(task.path() / "status");
    ++threads;
    // The listener's wait for them shows them unblocked while it waits.
    if (status.find("Name:\tsentrel-signals\n") != std::string::npos) continue;
    const unsigned long long blocked = StatusMask(status, "SigBlk");
    for (int sig : kSignals) EXPECT_TRUE(Has(blocked, sig)) << task.path() << " signal " << sig;
  }
  EXPECT_GE(threads, 4);

  EXPECT_TRUE(CheckedOnRequest(p, "asked.txt"));
  p.Signal(SIGHUP);  // no controlling terminal: a reload
  EXPECT_TRUE(Said("Configuration reloaded: "));
  EXPECT_TRUE(CheckedOnRequest(p, "asked-after-reload.txt"));
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(ReadFileText(dir_.Sub("out.txt")).find("Monitoring stopped."), std::string::npos);
  EXPECT_NE(ReadFileText(log).find(" ended with exit code 0\n"), std::string::npos)
      << ReadFileText(log);
}

// Under nohup (SIGHUP ignored) on a terminal, and as a script's background
// job (SIGINT ignored), those signals stay ignored, in Sentrel and in the
// programs it starts; the others still work.
TEST_F(SignalsTest, ASignalIgnoredAtTheStartStaysIgnored) {
  const std::string seen = dir_.Sub("child-status.txt");
  Config(AskedItem("Action=1\nCommand=/bin/sh\nParams=-c 'cat /proc/self/status > " + seen +
                   "'\nWait=1\n"));
  Detached p({{dir_.Sub("my.mon")}, dir_.Sub("out.txt"), {SIGHUP, SIGINT}, true, env_});
  ASSERT_TRUE(Said("(first checks took ")) << ReadFileText(dir_.Sub("out.txt"));
  p.Signal(SIGHUP);
  p.Signal(SIGINT);
  EXPECT_TRUE(CheckedOnRequest(p, "after-hangup.txt")) << ReadFileText(dir_.Sub("out.txt"));
  ASSERT_TRUE(WaitUntil([&] { return ReadFileText(seen).find("SigIgn:") != std::string::npos; }));
  EXPECT_EQ(p.WaitExit(0), -1);
  const std::string own = ReadFileText("/proc/" + std::to_string(p.pid()) + "/status");
  const unsigned long long child = StatusMask(ReadFileText(seen), "SigIgn");
  for (int sig : {SIGHUP, SIGINT}) {
    EXPECT_TRUE(Has(StatusMask(own, "SigIgn"), sig)) << sig;
    EXPECT_TRUE(Has(child, sig)) << sig;
  }
  EXPECT_FALSE(Has(child, SIGPIPE));  // Sentrel's own choice is not passed on
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
}

// A log that stops taking lines (its reader went, as a full disk refuses
// them) is said once on stderr, and once more when it takes them again.
TEST_F(SignalsTest, ALogThatCannotBeWrittenIsSaidOnceAndAgainWhenItIsWritten) {
  const std::string fifo = dir_.Sub("log.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  // A file that is missing at every check: a popup on the console each second.
  Config("FileName=" + dir_.Sub("missing") + "\nInterval=1\nAction=2\nMessage=still missing\nEOF\n");
  Detached p({{"--log", fifo, dir_.Sub("my.mon")}, dir_.Sub("out.txt"), {}, false, env_});
  char buffer[4096];
  ASSERT_TRUE(WaitUntil([&] { return read(reader, buffer, sizeof buffer) > 0; }));
  close(reader);
  const std::string failed = "sentrel: the log \"" + fifo + "\" cannot be written (";
  EXPECT_TRUE(Said(failed)) << ReadFileText(dir_.Sub("out.txt"));

  reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  p.Signal(SIGHUP);  // a reload opens the log anew
  const std::string again = "sentrel: the log \"" + fifo + "\" is written again\n";
  EXPECT_TRUE(WaitUntil([&] {
    while (read(reader, buffer, sizeof buffer) > 0) {
    }
    return ReadFileText(dir_.Sub("out.txt")).find(again) != std::string::npos;
  }));
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
  close(reader);
  const std::string out = ReadFileText(dir_.Sub("out.txt"));
  EXPECT_EQ(out.find(failed), out.rfind(failed)) << out;
  EXPECT_EQ(out.find(again), out.rfind(again)) << out;
}

}  // namespace
}  // namespace sentrel

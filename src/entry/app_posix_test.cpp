// The console program with signals, terminals, jobs, its settings folder
// and the desktop of Linux.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "console_program_fixture.h"
#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

class TerminalTest : public ConsoleProgramTest {
 protected:
  // `shell_command` run by /bin/sh on a real terminal, a pseudo-terminal that
  // `script` provides. `script` runs it with $SHELL, pinned so that the tests
  // do not depend on the login shell of whoever runs them.
  std::unique_ptr<ChildProcess> OnTerminal(const std::string& shell_command) {
    std::vector<std::string> env = env_;
    env.push_back("SHELL=/bin/sh");
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{"/usr/bin/script", "-qec", shell_command, "/dev/null"}, "", env);
  }
  // `script` may drop input that reaches it while it is still starting up
  // on a loaded machine; the key is sent again until Sentrel says it stopped,
  // never after, so that no key reaches what the shell runs next.
  static int SendUntilExit(ChildProcess& p, const std::string& key) {
    const size_t from = p.output().size();
    for (int tries = 0; tries < 20; ++tries) {
      p.Send(key);
      if (p.WaitForOutput("Monitoring stopped.", 1000, from)) break;
    }
    return p.WaitExit();
  }
  // A shell command that prints " echo " or " -echo ": the terminal's echo.
  static constexpr const char* kShowEcho = "stty -a | grep -o -- ' -\\?echo ' | head -1";
};

// SIGHUP stops only where a terminal can hang up (below); a service reads
// its configuration again on it.
TEST_F(ConsoleProgramTest, StopSignalsEndLikeTheExitKey) {
  for (int sig : {SIGINT, SIGTERM, SIGQUIT}) {
    ChildProcess p({SENTREL_BINARY, Config("Interval=1\nEOF\n")}, "", env_);
    ASSERT_TRUE(p.WaitForOutput("exit.\n"));
    p.Signal(sig);
    EXPECT_EQ(p.WaitExit(), 0) << sig;
  }
}

TEST_F(ConsoleProgramTest, ClosedInputKeepsMonitoringUntilASignal) {
  ChildProcess p({SENTREL_BINARY, Config("Interval=1\nEOF\n")}, "", env_);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.CloseInput();
  EXPECT_EQ(p.WaitExit(1500), -1);  // still running after its input ended
  EXPECT_TRUE(p.Running());
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
}

TEST_F(ConsoleProgramTest, LanguageNamedInSettingsReplacesTextsWithoutFormatting) {
  namespace fs = std::filesystem;
  TempDir install;
  fs::copy_file(SENTREL_BINARY, install.path() / "sentrel");
  install.Write("Lang/Test.lng",
                "[Strings]\nlngLoaded=Loaded %s (100% %d %n %s)\nlngStarted=Go!\n"
                "lngCantLoad=Nope %s\n");
  home_.Write("Brenmoor/Sentrel/values.reg", "\"Language\"=\"Test.lng\"\n");
  std::string config = Config("");
  {
    ChildProcess p({install.Sub("sentrel"), config}, "", env_, ChildProcess::Errors::kApart);
    ASSERT_TRUE(p.WaitForOutput("Go!\n"));
    p.Send("x");
    EXPECT_EQ(p.WaitExit(), 0);
    EXPECT_EQ(WithoutFirstChecksLine(p.output()),
              kBanner + "Loaded " + config + " (100% %d %n %s)\nGo!\nMonitoring stopped.\n");
  }
  {
    ChildProcess p({install.Sub("sentrel"), dir_.Sub("absent")}, "", env_,
                   ChildProcess::Errors::kApart);
    EXPECT_EQ(p.WaitExit(), 1);
    EXPECT_EQ(p.output(), kBanner + "Nope %s \"" + dir_.Sub("absent") + "\".\n");
  }
}

// On a real terminal (a pseudo-terminal that `script` provides) keys are not
// echoed while Sentrel waits, and the terminal is restored on the way out,
// by the exit key, Ctrl-C and Ctrl-\ alike.
TEST_F(TerminalTest, TerminalIsQuietWhileWaitingAndRestoredAfterwards) {
  if (!std::filesystem::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1)";
  std::string config = Config("");
  for (std::string stop : {"x", "\x03", "\x1c"}) {
    // Ctrl-C and Ctrl-\ reach the whole foreground group, the shell
    // included; some shells (dash) die of them while waiting, so the shell
    // catches them and goes on to report. A caught signal is reset to
    // default in Sentrel. Ignored from then on, so that a key sent twice on
    // a loaded machine cannot end the command that reads the echo.
    auto p = OnTerminal("trap : INT QUIT; " + std::string(SENTREL_BINARY) + " " + config +
                        "; echo rc=$?; trap '' INT QUIT; " + kShowEcho);
    ASSERT_TRUE(p->WaitForOutput("exit."));
    p->Send("abc");
    EXPECT_EQ(SendUntilExit(*p, stop), 0);
    EXPECT_EQ(p->output().find("abc"), std::string::npos) << p->output();
    EXPECT_NE(p->output().find("rc=0"), std::string::npos) << p->output();
    EXPECT_NE(p->output().find(" echo "), std::string::npos) << p->output();
  }
}

// Started as a background job (`sentrel my.mon &`) the program loads and
// monitors without touching the terminal, which would stop it, ends on a
// signal there, and takes keys once brought to the foreground with `fg`.
TEST_F(TerminalTest, BackgroundJobMonitorsAndTakesKeysOnceInTheForeground) {
  if (!std::filesystem::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1)";
  const std::string sentrel = std::string(SENTREL_BINARY) + " " + Config("");
  auto p = OnTerminal("set -m; " + sentrel + " & read line; kill -TERM $!; wait $!; " +
                      "echo first=$?; " + sentrel + " & read line; echo fore; " +
                      "fg >/dev/null; echo second=$?; " + kShowEcho);

  ASSERT_TRUE(p->WaitForOutput("exit.")) << p->output();
  p->Send("go\n");  // read by the shell, which then stops the job with SIGTERM
  ASSERT_TRUE(p->WaitForOutput("first=")) << p->output();
  const size_t second = p->output().find("first=");
  ASSERT_TRUE(p->WaitForOutput("exit.", 20000, second)) << p->output();
  p->Send("go\n");
  ASSERT_TRUE(p->WaitForOutput("fore", 20000, second)) << p->output();
  EXPECT_EQ(SendUntilExit(*p, "x"), 0);
  EXPECT_NE(p->output().find("first=0"), std::string::npos) << p->output();
  EXPECT_NE(p->output().find("second=0"), std::string::npos) << p->output();
  EXPECT_NE(p->output().find(" echo "), std::string::npos) << p->output();
}

// The terminal hung up (a closed window, a dropped connection): Sentrel, a
// job of that terminal, ends as the exit key ends it.
TEST_F(TerminalTest, HangUpOfItsTerminalEndsIt) {
  if (!std::filesystem::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1)";
  auto p = OnTerminal("set -m; " + std::string(SENTREL_BINARY) + " " + Config("") +
                      " & read line; kill -HUP $!; wait $!; echo hup=$?");
  ASSERT_TRUE(p->WaitForOutput("exit.")) << p->output();
  p->Send("go\n");
  ASSERT_TRUE(p->WaitForOutput("hup=")) << p->output();
  EXPECT_NE(p->output().find("hup=0"), std::string::npos) << p->output();
}

// Every action that cannot do its work says so once per run, with the item
// and the action's line; the popup's message still reaches the console.
TEST_F(ConsoleProgramTest, FailedActionsAreReportedOncePerRunNamingTheItem) {
  namespace fs = std::filesystem;
  for (const char* name : {"old/a.txt", "old/b.txt"}) {
    dir_.Write(name, "x");
    fs::last_write_time(dir_.Path(name), fs::file_time_type::clock::now() - std::chrono::hours(48));
  }
  TempDir no_programs;
  const std::string root = dir_.Sub("old") + "/", missing = dir_.Sub("missing");
  Config("IsDirectory=1\nFileName=" + root + "\nConditionType=1\nOlderInterval=60\n"
         "Interval=3600\n"
         "Action=0\nListName=" + missing + "/list.txt\n"          // line 6
         "Action=1\nCommand=/nonexistent/prog\nMultiArgs=0\n"     // line 8
         "Action=3\nWaveFile=" + missing + ".wav\n"                // line 11
         "Action=2\nMessage=hello\nEOF\n");                       // line 13
  std::vector<std::string> env = env_;
  env.push_back("PATH=" + no_programs.str());
  env.push_back("DISPLAY=:0");
  ChildProcess p({SENTREL_BINARY, "my.mon"}, dir_.str(), env, ChildProcess::Errors::kApart);
  auto at = [&](int line) { return "my.mon:" + std::to_string(line) + ": item \"" + root + "\": "; };
  const std::string reports[] = {
      at(6) + "Create filelist: cannot write the list file \"" + missing +
          "/list.txt\": No such file or directory\n",
      at(8) + "Execute program: cannot start \"/nonexistent/prog\": not found (2 of 2 starts "
              "failed)\n",
      at(11) + "Play sound: cannot play \"" + missing + ".wav\": No such file or directory\n",
      at(13) + "Popup window: no dialog could be shown on display \":0\" (it does not answer, "
               "or zenity, kdialog and xmessage are missing or failed); the message went to the "
               "console\n",
  };
  ASSERT_TRUE(p.ReadUntil([&] {
    for (const std::string& r : reports) {
      if (p.errors().find(r) == std::string::npos) return false;
    }
    return p.output().find("\nSentrel Notification\nhello\n") != std::string::npos;
  })) << p.errors() << p.output();
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  for (const std::string& r : reports) {
    EXPECT_EQ(p.errors().find(r), p.errors().rfind(r)) << r;
  }
}

TEST_F(ConsoleProgramTest, LegacySettingsAreMigratedAtStart) {
  home_.Write("Corvane/Sentrel/values.reg", "\"Interval\"=dword:00000003\n");
  ChildProcess p({SENTREL_BINARY, Config("")}, "", env_);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_TRUE(std::filesystem::exists(home_.path() / "Brenmoor/Sentrel/values.reg"));
  EXPECT_FALSE(std::filesystem::exists(home_.path() / "Corvane"));
}

// The Windows service options say where they belong instead of starting
// anything.
TEST(ServiceOptionsTest, SayTheyAreForWindowsOnLinux) {
  TempDir dir, home;
  for (std::string option :
       {"--service", "--install-service", "--remove-service", "--pause-service", "--resume-service"}) {
    SentrelRun run = RunSentrel({option}, dir.str(), home.str());
    EXPECT_EQ(run.code, 2) << option;
    EXPECT_NE(run.err.find("are for Windows"), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace sentrel

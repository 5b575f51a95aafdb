// The command line as a user meets it: the real executable.
#include "entry/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file_ops.h"
#include "sentrel_run.h"
#include "shell/text_util.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

TEST(CommandLineTest, HelpAndVersionGoToStdoutAndEndAtOnce) {
  TempDir dir, home;
  // The program's own folder as the system names it.
  const std::string beside = SiblingPath(AbsolutePath(SENTREL_BINARY), "default.mon");
  for (std::string option : {"-h", "--help"}) {
    SentrelRun run = RunSentrel({option, "--check"}, dir.str(), home.str());
    EXPECT_EQ(run.code, 0) << option;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("Usage: sentrel [OPTIONS] [CONFIG]\n", 0), 0u) << run.out;
    for (const std::string& line :
         std::vector<std::string>{"  -h, --help ", "      --version ", "      --check ",
                                  "      --timestamps ", "      --dry-run ", "      --strict ",
                                  "      -- ", "\n  " + beside + "\n"}) {
      EXPECT_NE(run.out.find(line), std::string::npos) << line;
    }
  }
  SentrelRun run = RunSentrel({"--version"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "Sentrel " SENTREL_VERSION "\n");
}

TEST(CommandLineTest, AWrongCommandLineStartsNothingAndEndsWithTwo) {
  TempDir dir, home;
  dir.Write("a.mon", "");
  struct Case {
    std::vector<std::string> args;
    std::string first_line;
  } cases[] = {
      {{"--bogus"}, "sentrel: unknown option \"--bogus\""},
      {{"a.mon", "-x", "--help"}, "sentrel: unknown option \"-x\""},
      {{"--check=a.mon"}, "sentrel: unknown option \"--check=a.mon\""},
      {{"a.mon", "--explain"}, "sentrel: --explain needs the path of a file or folder"},
      {{"a.mon", "--log"}, "sentrel: --log needs a file name"},
      {{"a.mon", "--dry-run", "--ignore-window"},
       "sentrel: --ignore-window is for one pass: use it with --once"},
      {{"--install-service", "--check"},
       "sentrel: --install-service and --remove-service take no --check, --service or each other"},
  };
  for (const Case& c : cases) {
    SentrelRun run = RunSentrel(c.args, dir.str(), home.str());
    EXPECT_EQ(run.code, 2) << c.first_line;
    EXPECT_EQ(run.out, "") << c.first_line;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')), c.first_line);
    EXPECT_NE(run.err.find("\nUsage: sentrel [OPTIONS] [CONFIG]\n"), std::string::npos);
  }
}

TEST(CommandLineTest, DoubleDashLetsAConfigurationBeginWithADash) {
  TempDir dir, home;
  dir.Write("-x.mon", "IsDirectory=1\nFileName=" + dir.str() + "\nAction=0\nEOF\n");
  SentrelRun run = RunSentrel({"--check", "--", "-x.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("-x.mon: 1 item, no problems.\n"), std::string::npos) << run.out;
}

// Scripts may name more than one file; the first is the configuration.
TEST(CommandLineTest, ASecondConfigurationIsIgnoredWithOneWarning) {
  TempDir dir, home;
  dir.Write("a.mon", "IsDirectory=1\nFileName=" + dir.str() + "\nAction=0\nEOF\n");
  SentrelRun run = RunSentrel({"--check", "a.mon", "b.mon", "--", "-c.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "sentrel: warning: one configuration is read, \"a.mon\"; ignored: \"b.mon\", "
                     "\"-c.mon\"\n");
  EXPECT_NE(run.out.find("a.mon: 1 item, no problems.\n"), std::string::npos) << run.out;
}

// What the program writes on both streams is kept in the log too, each line
// with its time and level; the log is added to, never replaced.
TEST(CommandLineTest, TheLogKeepsBothStreamsWithTimeAndLevel) {
  TempDir dir, home;
  dir.Write("a.mon", "IsDirectory=1\nFileName=" + dir.str() + "\nBogusKey=1\nAction=0\nListName=" +
                         dir.Sub("list.txt") + "\nEOF\n");
  dir.Write("run.log", "kept\n");
  SentrelRun run = RunSentrel({"--check", "a.mon", "--log", "run.log"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1) << run.err;
  // Its lines end as the system's text files do (CR LF on Windows).
  std::string log = ReadFileText(dir.Sub("run.log"));
  log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
  EXPECT_EQ(log.rfind("kept\n", 0), 0u) << log;
  EXPECT_NE(log.find(" INFO  a.mon: 1 item, 1 problem.\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" WARN  a.mon:3: warning: "), std::string::npos) << log;
  EXPECT_NE(log.find(" INFO  Sentrel ended with exit code 1\n"), std::string::npos) << log;
  EXPECT_NE(run.out.find("a.mon: 1 item, 1 problem.\n"), std::string::npos) << run.out;
}

// A service has no desktop: the check, told the items run as one, names
// each action that would be left out there.
TEST(CommandLineTest, CheckForAServiceWarnsOfActionsThatNeedADesktop) {
  TempDir dir, home;
  dir.Write("a.mon", "IsDirectory=1\nFileName=" + dir.str() + "\nAction=2\nMessage=hi\nAction=0\n" +
                         "ListName=" + dir.Sub("list.txt") + "\nAction=5\nkillTitleMask=Never*\nEOF\n");
  SentrelRun run = RunSentrel({"--check", "a.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 0) << run.err;
  run = RunSentrel({"--check", "--service", "a.mon"}, dir.str(), home.str());
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("a.mon:3: warning: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("a.mon:7: warning: "), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("a.mon:5:"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace sentrel

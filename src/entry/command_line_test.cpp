// The command line as a user meets it: the real executable.
#include "entry/command_line.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sentrel

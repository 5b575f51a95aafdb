// The console program as a user meets it: the real executable, started as a
// child process with its input and output on pipes.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "child_process.h"
#include "console_program_fixture.h"
#include "platform/file_ops.h"
#include "shell/text_util.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

TEST_F(ConsoleProgramTest, PrintsBannerAndMessagesAndEndsOnX) {
  std::string config = Config("Interval=1\nFileName=/nonexistent\nAction=0\nEnabled=0\nEOF\n");
  ChildProcess p({SENTREL_BINARY, config}, "", env_);
  ASSERT_TRUE(p.WaitForOutput("Press 'X' to exit.\n"));
  p.Send("a\n\x1bq");
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_EQ(WithoutFirstChecksLine(p.output()),
            kBanner + "Configuration file \"" + config +
                "\" is loaded.\nMonitoring started. Press 'X' to exit.\nMonitoring stopped.\n");
}

TEST_F(ConsoleProgramTest, CapitalXEndsToo) {
  std::string config = Config("");
  ChildProcess p({SENTREL_BINARY, config}, "", env_);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("X");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(p.output().find("\"" + config + "\" is loaded."), std::string::npos);
}

TEST_F(ConsoleProgramTest, MissingConfigurationEndsAtOnceWithCodeOne) {
  std::string missing = dir_.Sub("absent.mon");
  ChildProcess p({SENTREL_BINARY, missing}, "", env_, ChildProcess::Errors::kApart);
  EXPECT_EQ(p.WaitExit(), 1);
  EXPECT_EQ(p.output(), kBanner + "Can not load configuration file \"" + missing + "\".\n");
  EXPECT_EQ(p.errors(), missing + ": error: cannot be opened: No such file or directory\n");
}

// A copy of the program in a folder of its own, with its own default.mon and
// language files.
TEST_F(ConsoleProgramTest, WithoutArgumentReadsDefaultMonBesideTheProgram) {
  namespace fs = std::filesystem;
  TempDir install;
  const std::string program = fs::path(SENTREL_BINARY).filename().string();
  fs::copy_file(SENTREL_BINARY, install.path() / program);
  install.Write("default.mon", "");
  ChildProcess p({install.Sub(program)}, dir_.str(), env_);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_NE(p.output().find("\"" + install.Sub("default.mon") + "\" is loaded."),
            std::string::npos);
}

// Nobody named a configuration and none is in the places looked at: the
// user learns where it was looked for and how to learn more.
TEST_F(ConsoleProgramTest, WithoutAnyConfigurationNamesEveryPlaceLookedAt) {
  namespace fs = std::filesystem;
  TempDir install;
  const std::string program = fs::path(SENTREL_BINARY).filename().string();
  fs::copy_file(SENTREL_BINARY, install.path() / program);
  ChildProcess p({install.Sub(program)}, dir_.str(), env_, ChildProcess::Errors::kApart);
  EXPECT_EQ(p.WaitExit(), 1);
  EXPECT_EQ(p.output(), kBanner + "Can not load configuration file \"" +
                            install.Sub("default.mon") + "\".\n");
  EXPECT_EQ(p.errors().rfind("sentrel: no configuration named, and none found in:\n  " +
                                 install.Sub("default.mon") + "\n",
                             0),
            0u)
      << p.errors();
  EXPECT_NE(p.errors().find("\"sentrel --help\" says more.\n"), std::string::npos) << p.errors();
}

TEST_F(ConsoleProgramTest, ShippedDefaultConfigurationLoadsCleanly) {
  // The program's own path as the system names it.
  const std::string shipped = SiblingPath(AbsolutePath(SENTREL_BINARY), "default.mon");
  ChildProcess p({SENTREL_BINARY}, dir_.str(), env_);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_EQ(WithoutFirstChecksLine(p.output()),
            kBanner + "Configuration file \"" + shipped +
                "\" is loaded.\nMonitoring started. Press 'X' to exit.\nMonitoring stopped.\n");
}

TEST_F(ConsoleProgramTest, TimestampsBeginEveryLineOnBothStreams) {
  Config("Intervall=5\nEOF\n");
  ChildProcess p({SENTREL_BINARY, "--timestamps", "my.mon"}, dir_.str(), env_,
                 ChildProcess::Errors::kApart);
  ASSERT_TRUE(p.WaitForOutput("exit.\n"));
  p.Send("x");
  EXPECT_EQ(p.WaitExit(), 0);
  // "2024-05-01T14:03:07.412", then a blank and the line's own text, if any.
  auto stamped = [](const std::string& line) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd.ddd";
    if (line.size() < shape.size() || (line.size() > shape.size() && line[shape.size()] != ' ')) {
      return false;
    }
    for (size_t i = 0; i < shape.size(); ++i) {
      if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i]) {
        return false;
      }
    }
    return true;
  };
  for (const std::string& text : {p.output(), p.errors()}) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
      EXPECT_TRUE(stamped(line)) << line;
    }
    EXPECT_GE(count, 1);
  }
  EXPECT_NE(p.output().find(" Sentrel 1.4.0 [console version]\n"), std::string::npos);
  EXPECT_NE(p.errors().find(" my.mon:1: warning: unknown key \"Intervall\""), std::string::npos);
}

}  // namespace
}  // namespace sentrel

namespace sentrel {
namespace {

TEST_F(ConsoleProgramTest, StrictStartsNothingWhenTheCheckFindsAProblem) {
  const std::string watched = dir_.Write("watched.txt");
  const std::string list = dir_.Sub("list.txt");
  const std::string item =
      "FileName=" + watched + "\nInterval=1\nAction=0\nListName=" + list + "\n";

  // "TimeIntervall" is a typo: without --strict the item would run all day.
  const std::string typo = Config(item + "TimeIntervall=22:00-06:00\nEOF\n");
  ChildProcess refused({SENTREL_BINARY, "--strict", typo}, "", env_, ChildProcess::Errors::kApart);
  EXPECT_EQ(refused.WaitExit(), 1);
  EXPECT_NE(refused.errors().find(typo + ":5: "), std::string::npos) << refused.errors();
  EXPECT_NE(refused.errors().find("--strict starts nothing"), std::string::npos);
  EXPECT_EQ(refused.output().find("Monitoring started"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(list));

  ChildProcess started({SENTREL_BINARY, "--strict", Config(item + "EOF\n")}, "", env_);
  ASSERT_TRUE(started.WaitForOutput("exit.\n"));
  EXPECT_TRUE(WaitUntil([&] { return std::filesystem::exists(list); }, 30000));
  started.Send("x");
  EXPECT_EQ(started.WaitExit(), 0);
}

}  // namespace
}  // namespace sentrel

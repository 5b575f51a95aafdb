#include "platform/process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "environment.h"
#include "record_args.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

using Args = std::vector<std::string>;

TEST(SplitArgumentsTest, FollowsTheRulesWindowsProgramsReadTheirCommandLineBy) {
  const std::pair<const char*, Args> cases[] = {
      {"a  b\tc", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"C:\\dir\\file.txt", {"C:\\dir\\file.txt"}},  // backslashes are characters
      {"\"a\\\"b\"", {"a\"b"}},                        // \" is a quote
      {"a\\\\\"b c\"", {"a\\b c"}},                    // \\" is a backslash, then quoting
      {"\"say \"\"hi\"\"\"", {"say \"hi\""}},          // "" inside quotes is one
      {"'x y'", {"'x", "y'"}},                         // single quotes are characters
      {"\"open end", {"open end"}},
      {"$(id) ; | & %x%", {"$(id)", ";", "|", "&", "%x%"}},
      {"\"\"", {""}},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(SplitArguments(text), want) << text;
}

TEST(SplitArgumentsTest, MarkedTextNeverQuotesSeparatesOrEscapes) {
  // "%File" around a folder's name that ends in a backslash, and a name
  // with blanks written without quotes: each stays one argument.
  const std::string text = "\"C:\\dir\\\" two words";
  std::vector<bool> literal(text.size(), false);
  for (size_t i = 1; i <= 7; ++i) literal[i] = true;                  // C:\dir\ .
  for (size_t i = 10; i < text.size(); ++i) literal[i] = true;        // two words
  EXPECT_EQ(SplitArguments(text, literal), (Args{"C:\\dir\\", "two words"}));
}

class ProcessTest : public ::testing::Test {
 protected:
  ProcessTest() { SetEnvironment("RECORD_ARGS_FILE", record_); }
  ~ProcessTest() override { UnsetEnvironment("RECORD_ARGS_FILE"); }
  TempDir dir_;
  std::string record_ = dir_.Sub("args.txt");
};

TEST_F(ProcessTest, EveryArgumentArrivesAsItIs) {
  const Args args = {"plain",     "two words", "tab\there", "\"quoted\"", "trailing\\",
                     "C:\\dir\\", "a\\\\\"b",  "",          "%PATH%",     "&|<>^"};
  Args argv = {RecordArgsProgram()};
  argv.insert(argv.end(), args.begin(), args.end());
  SpawnedProcess p = StartProcess(argv);
  ASSERT_TRUE(p.valid());
  ASSERT_EQ(p.Wait(nullptr, 20000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(p.exit_status(), 0);
  EXPECT_EQ(RecordedStarts(record_), std::vector<Args>{args});
}

TEST_F(ProcessTest, ExitCodesWaitsAndEnds) {
  UnsetEnvironment("RECORD_ARGS_FILE");  // record_args ends with 2 then
  SpawnedProcess quick = StartProcess({RecordArgsProgram()});
  ASSERT_EQ(quick.Wait(nullptr, 20000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(quick.exit_status(), 2);

  // hold_open keeps running until it is ended.
  const std::string held = dir_.Write("held.txt");
  ProcessOptions hidden;
  hidden.null_streams = true;
  hidden.show = 3;
  SpawnedProcess slow =
      StartProcess({std::string(SENTREL_TEST_HELPER_DIR) + "/hold_open", held}, hidden);
  ASSERT_TRUE(slow.valid());
  EXPECT_EQ(slow.Wait(nullptr, 200), SpawnedProcess::WaitResult::kTimedOut);
  EXPECT_EQ(slow.Wait([] { return true; }), SpawnedProcess::WaitResult::kStopped);
  EXPECT_FALSE(slow.HasExited());
  slow.Terminate(/*forced=*/true);
  EXPECT_EQ(slow.Wait(nullptr, 20000), SpawnedProcess::WaitResult::kExited);
  EXPECT_EQ(slow.exit_status(), 1);
  EXPECT_EQ(ChildrenAwaitingReap(), 0);

  int error = 0;
  EXPECT_FALSE(StartProcess({dir_.Sub("absent")}, ProcessOptions(), &error).valid());
  EXPECT_NE(error, 0);
}

TEST_F(ProcessTest, ProgramsAreExeOrComFilesAnythingElseIsADocument) {
  EXPECT_TRUE(IsExecutableProgram(RecordArgsProgram()));  // ".exe" added
  EXPECT_TRUE(IsExecutableProgram("cmd"));  // found where the system keeps it
  const std::string script = dir_.Write("run.bat", "@echo off\n");
  EXPECT_FALSE(IsExecutableProgram(script));
  EXPECT_FALSE(IsExecutableProgram(dir_.Write("notes.txt")));
  EXPECT_FALSE(IsExecutableProgram(dir_.str()));
  EXPECT_FALSE(IsExecutableProgram("no-such-program"));
}

TEST(EnvironmentTest, NamesIgnoreCase) {
  SetEnvironment("SENTREL_Test_Var", "C:\\tool");
  EXPECT_EQ(EnvironmentVariable("sentrel_test_var"), std::optional<std::string>("C:\\tool"));
  EXPECT_EQ(ExpandEnvironmentReferences("%SENTREL_TEST_VAR%\\bin"), "C:\\tool\\bin");
  UnsetEnvironment("SENTREL_Test_Var");
  EXPECT_FALSE(EnvironmentVariable("SENTREL_TEST_VAR").has_value());
}

}  // namespace
}  // namespace sentrel

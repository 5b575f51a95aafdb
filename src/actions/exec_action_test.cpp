#include "actions/exec_action.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "exec_action_fixture.h"

namespace sentrel {
namespace {

TEST_F(ExecActionTest, StartsOncePerBatchOrPerFileInListOrder) {
  struct Case {
    std::vector<std::string> lines;
    int files;
    std::vector<Start> starts;
  };
  const Case cases[] = {
      // A group lists every file of its batch.
      {{"Params=%(%File %)", "MaxFiles=2"}, 5, {{"/1", "/2"}, {"/3", "/4"}, {"/5"}}},
      // Outside a group a macro names the batch's first file.
      {{"Params=first: %File"}, 5, {{"first:", "/1"}}},
      {{"Params=%File", "MultiArgs=0", "MaxFiles=2"}, 3, {{"/1"}, {"/2"}, {"/3"}}},
      // No file: one start on the placeholder, whose backslashes are text.
      {{"Params=%File"}, 0, {{"[D:]\\[P]\\[N].[E]"}}},
      {{"Command=", "Params=%File"}, 2, {}},
  };
  for (const Case& c : cases) {
    ExecAction action;
    for (std::string line : {"Command=" + kRecordArgs, std::string("Wait=1")}) {
      OfferLine(action.Params(), line + "\n");
    }
    for (const std::string& line : c.lines) OfferLine(action.Params(), line + "\n");
    FileList files;
    for (int i = 1; i <= c.files; ++i) files.emplace_back("/" + std::to_string(i), 0.0, 1, kStateAdded);
    std::filesystem::remove(record_file_);
    action.Run(files, ctx_);
    // With the wait, every program has ended when Run returns.
    EXPECT_EQ(Starts(), c.starts) << c.lines[0];
  }
}

TEST_F(ExecActionTest, WithoutWaitEveryStartStillHappens) {
  Configure({"Command=" + kRecordArgs, "Params=%Name", "MultiArgs=0"});
  action_.Run(Files({"/x/1", "/x/2", "/x/3"}), ctx_);
  ASSERT_TRUE(WaitUntil([&] { return Starts().size() == 3; }));
  ASSERT_TRUE(WaitUntil([] { return ChildrenAwaitingReap() == 0; }));
}

TEST_F(ExecActionTest, NoFileNameCanRunACommandOrAddAnArgument) {
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

  // Quoted, unquoted and in a group: each name is one argument, as it is.
  Configure({"Command=" + kRecordArgs, "Params=\"%File\" %File %(%File %)", "Wait=1"});
  action_.Run(files, ctx_);
  Start want = {names[0], names[0]};
  want.insert(want.end(), names.begin(), names.end());
  const std::vector<Start> starts = Starts();
  ASSERT_EQ(starts.size(), 1u);
  // record_args writes one argument per line, so a line break in a name
  // shows as two lines.
  Start expected_lines;
  for (const std::string& arg : want) {
    size_t from = 0;
    for (size_t nl; (nl = arg.find('\n', from)) != std::string::npos; from = nl + 1) {
      expected_lines.push_back(arg.substr(from, nl - from));
    }
    expected_lines.push_back(arg.substr(from));
  }
  EXPECT_EQ(starts[0], expected_lines);
  EXPECT_FALSE(Exists(pwned));
}

TEST_F(ExecActionTest, EnvironmentReferencesInCommandAndDirectory) {
  std::filesystem::create_directory(dir_.Sub("work"));
  SetEnvironment("SENTREL_TEST_HELPERS", kHelperDir);
  SetEnvironment("SENTREL_TEST_ROOT", dir_.str());
  SetEnvironment("RECORD_ARGS_FILE", "here.txt");  // relative: lands in the working directory
  Configure({"Command=%SENTREL_TEST_HELPERS%/record_args", "Dir=%SENTREL_TEST_ROOT%/work",
             "Params=%SENTREL_TEST_ROOT%", "Wait=1"});
  action_.Run(Files({"/a"}), ctx_);
  // "Params" holds macros, not environment references.
  EXPECT_EQ(RecordedStarts(dir_.Sub("work/here.txt")), (std::vector<Start>{{"SENTREL_TEST_ROOT"}}));
  UnsetEnvironment("SENTREL_TEST_HELPERS");
  UnsetEnvironment("SENTREL_TEST_ROOT");
}

TEST(ExecCommandLineTest, ProgramsStartDocumentsAndAddressesOpen) {
  EXPECT_FALSE(OpensWithDesktop(kRecordArgs, ""));
  EXPECT_TRUE(OpensWithDesktop(kHelperDir, ""));  // a folder
  EXPECT_TRUE(OpensWithDesktop("mailto:someone@example.org", ""));
  EXPECT_FALSE(OpensWithDesktop("missing-thing", ""));
  EXPECT_TRUE(LooksLikeAddress("svn+ssh://x"));
  EXPECT_FALSE(LooksLikeAddress("C:/x"));
  EXPECT_FALSE(LooksLikeAddress("/usr/bin/a:b"));
  EXPECT_FALSE(LooksLikeAddress("\\\\server\\share\\a:b"));
}

}  // namespace
}  // namespace sentrel

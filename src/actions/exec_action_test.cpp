#include "actions/exec_action.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/process.h"
#include "record_args.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

const std::string kHelperDir = SENTREL_TEST_HELPER_DIR;
const std::string kRecordArgs = RecordArgsProgram();

using Start = std::vector<std::string>;

class ExecActionTest : public ::testing::Test {
 protected:
  ExecActionTest() : record_file_(dir_.Sub("args.txt")), ctx_(services_, stop_, stop_wakeup_) {
    setenv("RECORD_ARGS_FILE", record_file_.c_str(), 1);
  }
  ~ExecActionTest() override {
    unsetenv("RECORD_ARGS_FILE");
    // Children started without a wait must be gone before the folder is.
    WaitUntil([] { return ChildrenAwaitingReap() == 0; });
  }

  void Configure(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
      ASSERT_TRUE(OfferLine(action_.Params(), line + "\n")) << line;
    }
  }
  FileList Files(std::initializer_list<std::string> names) {
    FileList files;
    for (const std::string& n : names) files.emplace_back(n, 0.0, 1, kStateAdded);
    return files;
  }
  std::vector<Start> Starts() { return RecordedStarts(record_file_); }

  TempDir dir_;
  std::string record_file_;
  Services services_;
  std::atomic<bool> stop_{false};
  Wakeup stop_wakeup_;
  RunContext ctx_;
  ExecAction action_;
};

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

  // Even a shell that the user names as the command gets each name as data.
  const std::string out = dir_.Sub("shell.txt");
  Configure({"Command=sh", "Params=-c 'printf \"%%s|\" \"$@\" > " + out + "' sh %(%File %)",
             "MultiArgs=1"});
  action_.Run(files, ctx_);
  std::string joined;
  for (const std::string& n : names) joined += n + "|";
  EXPECT_EQ(ReadFileText(out), joined);
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST_F(ExecActionTest, EnvironmentReferencesInCommandAndDirectory) {
  std::filesystem::create_directory(dir_.Sub("work"));
  setenv("SENTREL_TEST_HELPERS", kHelperDir.c_str(), 1);
  setenv("SENTREL_TEST_ROOT", dir_.str().c_str(), 1);
  setenv("RECORD_ARGS_FILE", "here.txt", 1);  // relative: lands in the working directory
  Configure({"Command=%SENTREL_TEST_HELPERS%/record_args", "Dir=%SENTREL_TEST_ROOT%/work",
             "Params=%SENTREL_TEST_ROOT%", "Wait=1"});
  action_.Run(Files({"/a"}), ctx_);
  // "Params" holds macros, not environment references.
  EXPECT_EQ(RecordedStarts(dir_.Sub("work/here.txt")), (std::vector<Start>{{"SENTREL_TEST_ROOT"}}));
  unsetenv("SENTREL_TEST_HELPERS");
  unsetenv("SENTREL_TEST_ROOT");
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
  setenv("PATH", (bin + ":" + old_path).c_str(), 1);

  const std::string doc = dir_.Write("notes.txt", "hello");
  Configure({"Command=" + doc, "Params=%File", "Wait=1"});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=https://example.org/a?b=1&c=2"});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=notes.txt", "Dir=" + dir_.str()});
  action_.Run(Files({"/a"}), ctx_);
  Configure({"Command=no-such-program-or-document", "Dir="});
  action_.Run(Files({"/a"}), ctx_);
  setenv("PATH", old_path.c_str(), 1);

  EXPECT_EQ(Starts(), (std::vector<Start>{{doc}, {"https://example.org/a?b=1&c=2"}, {"notes.txt"}}));
}

TEST(ExecCommandLineTest, ProgramsStartDocumentsAndAddressesOpen) {
  EXPECT_FALSE(OpensWithDesktop(kRecordArgs, ""));
  EXPECT_TRUE(OpensWithDesktop(kHelperDir, ""));  // a folder
  EXPECT_TRUE(OpensWithDesktop("mailto:someone@example.org", ""));
  EXPECT_FALSE(OpensWithDesktop("missing-thing", ""));
  EXPECT_TRUE(LooksLikeAddress("svn+ssh://x"));
  EXPECT_FALSE(LooksLikeAddress("C:/x"));
  EXPECT_FALSE(LooksLikeAddress("/usr/bin/a:b"));
}

}  // namespace
}  // namespace sentrel

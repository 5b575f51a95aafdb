// Why a file is or is not reported, as a user asks it: the real executable.
#include "entry/explain_mode.h"

#include <gtest/gtest.h>

#include "hidden_folder.h"
#include "platform/paths.h"
#include "record_args.h"
#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

class ExplainTest : public ::testing::Test {
 protected:
  ExplainTest() {
    for (const char* file : {"t/a.c", "t/a.h", "t/b.txt", "t/sub/x.c", "t/skip/w.c"}) {
      dir_.Write(file, "x");
    }
    hidden_ = MakeHiddenFolder(dir_.Sub("t"), "cache");
    dir_.Write("t/" + hidden_ + "/z.c", "x");
    const std::string action = "Action=1\nCommand=" + RecordArgsProgram() + "\n";
    dir_.Write("my.mon", "IsDirectory=1\nFileName=" + dir_.Sub("t") +
                             "\nMask=*.c; *.h\nExclDirMask=skip\nSubdir=1\nCountHidden=0\n" +
                             action + "EOF\n" +  // lines 1-8
                             "IsDirectory=1\nFileName=" + dir_.Sub("t") + "\nRealTime=1\n" +
                             "Conditions=0010\nStorePrevInfo=1\n" + action +
                             "EOF\n");  // lines 9-16
  }
  SentrelRun Explain(const std::string& path) {
    return RunSentrel({"--explain", NativeSeparators(path), "my.mon"}, dir_.str(), home_.str());
  }
  std::string In(const std::string& rel) { return "\"" + dir_.Sub(NativeSeparators(rel)) + "\""; }

  TempDir dir_, home_;
  std::string hidden_;
};

TEST_F(ExplainTest, SaysWhichRuleTakesOrLeavesAFile) {
  SentrelRun run = Explain("t/sub/x.c");
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("line 1: directory item \"" + dir_.Root() + "t" + kPathSeparator +
                         "\"\n  included: it passes every mask and rule of the walk\n"
                         "  first check of a run: not reported: it only takes the baseline "
                         "that later checks compare with\n"
                         "  later checks: reported when it is changed; the item reports files "
                         "changed or added since the previous check (Conditions=1100)\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("excluded at " + In("t/sub") +
                         ": subfolders are not walked (Subdir=0), only the item's own folder\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(": 1 item would report it.\n"), std::string::npos) << run.out;

  const struct {
    std::string path, reason;
  } excluded[] = {
      {"t/a.h", "no mask of Mask matches its name (Mask \"*.c\" \" *.h\")"},
      {"t/skip/w.c", "a mask of ExclDirMask matches its name, so the walk does not go into it "
                     "(ExclDirMask \"skip\")"},
      {"t/" + hidden_ + "/z.c",
       "it is hidden, and hidden entries are passed over (CountHidden=0)"},
  };
  for (const auto& c : excluded) {
    run = Explain(dir_.Sub(c.path));
    EXPECT_NE(run.out.find("line 1: directory item \"" + dir_.Root() + "t" + kPathSeparator +
                           "\"\n  excluded at "),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(c.reason + "\n"), std::string::npos) << run.out;
  }
  // The second item walks no subfolder and takes *.h by its default mask.
  EXPECT_EQ(Explain("t/skip/w.c").code, 1);
  EXPECT_EQ(Explain("t/a.h").code, 0);
  run = Explain(dir_.Sub("elsewhere.c"));
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.out.find("  it is outside the item's tree\n"), std::string::npos) << run.out;
}

TEST_F(ExplainTest, TheCheckListsWhatDecidesWhatEachItemReports) {
  SentrelRun run = RunSentrel({"--check", "my.mon"}, dir_.str(), home_.str());
  EXPECT_NE(run.out.find("  files: Mask \"*.c\" \" *.h\"; ExcludeMask none\n"
                         "  subfolders: walked to any depth (Subdir=1); DirMask \"*\"; "
                         "ExclDirMask \"skip\"\n"
                         "  folders themselves: not reported (DirMonitoring=0)\n"
                         "  hidden entries: passed over (CountHidden=0)\n"
                         "  real time: off (changes are found at the interval)\n"
                         "  reports: files changed or added since the previous check "
                         "(Conditions=1100)\n"
                         "  window: open now\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("  subfolders: not walked (Subdir=0)\n"
                         "  folders themselves: not reported (DirMonitoring=0)\n"
                         "  hidden entries: counted (CountHidden=1)\n"
                         "  real time: on (a change wakes a check at once)\n"
                         "  reports: files deleted since the previous check (Conditions=0010)\n"),
            std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace sentrel

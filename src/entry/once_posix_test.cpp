// One pass for cron jobs and scripts, on the real executable: each item
// checks once, runs its actions, and the program ends by itself with a
// status that says whether the actions could do their work.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class OnceTest : public ::testing::Test {
 protected:
  OnceTest() {
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "XDG_STATE_HOME=" + state_.str(), "LC_ALL=C"};
    fs::create_directory(dir_.Path("tree"));
  }
  std::string InTree(const std::string& name) const { return dir_.Sub("tree/" + name); }

  struct Run {
    int code;
    std::string out, err;
  };
  Run Once(const std::string& block) {
    const std::string config = dir_.Write("my.mon", block);
    ChildProcess p({SENTREL_BINARY, "--once", config}, "", env_, ChildProcess::Errors::kApart);
    Run run{p.WaitExit(60000), "", ""};
    run.out = p.output();
    run.err = p.errors();
    return run;
  }
  // A directory item that prints a line per reported file.
  std::string Watching(const std::string& extra) const {
    return "IsDirectory=1\nFileName=" + dir_.Sub("tree") +
           "\nConditions=1110\nStorePrevInfo=1\n" + extra +
           "Action=1\nCommand=echo\nParams=%Added=\"added\"%Changed=\"changed\"%Deleted="
           "\"deleted\": %File\nMultiArgs=0\nWait=1\nEOF\n";
  }

  TempDir dir_, home_, state_;
  std::vector<std::string> env_;
};

TEST_F(OnceTest, WithSavedStateReportsWhatChangedSinceTheLastRunThenEnds) {
  std::ofstream(InTree("stays")) << "a";
  std::ofstream(InTree("goes")) << "b";
  // Real time and subfolders on, as a monitoring configuration would have
  // them: one pass still reports everything it finds.
  const std::string block = Watching("SaveState=1\nSubdir=1\nRealTime=1\n");
  // The first run has nothing to compare with: its check is the baseline.
  Run first = Once(block);
  EXPECT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.out.find("added: "), std::string::npos) << first.out;

  std::ofstream(InTree("new")) << "c";
  fs::create_directory(InTree("folder"));
  std::ofstream(InTree("folder/inside")) << "d";
  fs::remove(InTree("goes"));
  Run second = Once(block);
  EXPECT_EQ(second.code, 0) << second.err;
  EXPECT_NE(second.out.find("added: " + InTree("new") + "\n"), std::string::npos) << second.out;
  EXPECT_NE(second.out.find("added: " + InTree("folder/inside") + "\n"), std::string::npos);
  EXPECT_NE(second.out.find("deleted: " + InTree("goes") + "\n"), std::string::npos);
  EXPECT_EQ(second.out.find("stays"), std::string::npos);
  EXPECT_EQ(second.out.find("Press"), std::string::npos);
  EXPECT_EQ(second.err, "");

  // Reported once: the state now holds the new file.
  EXPECT_EQ(Once(block).out.find("added: "), std::string::npos);
}

TEST_F(OnceTest, WithoutSavedStateADirectoryItemOnlyTakesItsBaseline) {
  std::ofstream(InTree("old")) << "a";
  Run run = Once(Watching(""));
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.find("added: "), std::string::npos) << run.out;
  EXPECT_TRUE(fs::is_empty(state_.str()));
}

TEST_F(OnceTest, AnActionThatCannotDoItsWorkMakesTheStatusOne) {
  std::ofstream(InTree("old")) << "a";
  // Files older than a second are reported at every check, the first too.
  const std::string old_files = "IsDirectory=1\nFileName=" + dir_.Sub("tree") +
                                "\nConditionType=1\nOlderInterval=1\nIgnoreAdded=0\n";
  fs::last_write_time(InTree("old"), fs::file_time_type::clock::now() - std::chrono::hours(1));
  Run good = Once(old_files + "Action=0\nListName=" + dir_.Sub("list.txt") + "\nEOF\n");
  EXPECT_EQ(good.code, 0) << good.err;
  EXPECT_TRUE(fs::exists(dir_.Path("list.txt")));

  Run bad = Once(old_files + "Action=0\nListName=" + dir_.Sub("no/such/folder/list.txt") +
                 "\nEOF\n" + Watching(""));
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("cannot write the list file"), std::string::npos) << bad.err;
}

// A program waited for that a signal ends is a failed action, and the
// actions after it run. A stop sent to the whole process group (Ctrl-C,
// timeout(1), a service manager) ends such a program too: then what follows
// it must not start, and the status must say that the pass was cut.
TEST_F(OnceTest, AKilledProgramFailsAndAStopOfTheWholeGroupStartsNothingMore) {
  std::ofstream(InTree("old")) << "a";
  fs::last_write_time(InTree("old"), fs::file_time_type::clock::now() - std::chrono::hours(1));
  const std::string started = dir_.Sub("started"), ran = dir_.Sub("ran");
  const auto config = [&](const std::string& script) {
    return dir_.Write("my.mon", "IsDirectory=1\nFileName=" + dir_.Sub("tree") +
                                    "\nConditionType=1\nOlderInterval=1\nIgnoreAdded=0\n"
                                    "Action=1\nCommand=sh\nParams=-c '" + script + "'\nWait=1\n"
                                    "Action=1\nCommand=touch\nParams=" + ran + "\nWait=1\nEOF\n");
  };
  ChildProcess self({SENTREL_BINARY, "--once", config("kill -KILL $$")}, "", env_,
                    ChildProcess::Errors::kApart);
  EXPECT_EQ(self.WaitExit(30000), 1);
  EXPECT_NE(self.errors().find(dir_.Sub("my.mon") + ":6: item \"" + dir_.Sub("tree") + "/" +
                               "\": Execute program: \"sh\" was ended by signal 9 (Killed)\n"),
            std::string::npos)
      << self.errors();
  EXPECT_TRUE(fs::exists(ran));
  fs::remove(ran);

  // The first program blocks until the stop ends it. setsid makes Sentrel
  // lead a process group of its own, which the programs it starts join.
  ChildProcess p({"/usr/bin/setsid", SENTREL_BINARY, "--once",
                  config("touch " + started + "; exec sleep 120")},
                 "", env_, ChildProcess::Errors::kApart);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(started); }, 30000)) << p.errors();
  p.SignalGroup(SIGTERM);
  EXPECT_EQ(p.WaitExit(30000), 1);
  EXPECT_FALSE(fs::exists(ran));
  EXPECT_NE(p.errors().find("sentrel: stopped while actions ran: they were cut short, and those "
                            "not yet begun did not run\n"),
            std::string::npos)
      << p.errors();

  // timeout(1) sends its stop to Sentrel and then to the whole group: the
  // second stop ends the process at once, and still says the pass was cut.
  ChildProcess t({"/usr/bin/timeout", "--preserve-status", "2", SENTREL_BINARY, "--once",
                  config("exec sleep 120")},
                 "", env_, ChildProcess::Errors::kApart);
  EXPECT_EQ(t.WaitExit(30000), 1) << t.errors();
  EXPECT_FALSE(fs::exists(ran));
}

}  // namespace
}  // namespace sentrel

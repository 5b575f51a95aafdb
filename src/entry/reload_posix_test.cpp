// The configuration changed while Sentrel runs, as an admin does it: the
// file saved in place or replaced by an editor, or SIGHUP to a service.
// Sentrel runs without a controlling terminal here (setsid), as a service.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>

#include "child_process.h"
#include "console_program_fixture.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class ReloadTest : public ConsoleProgramTest {
 protected:
  ReloadTest() {
    fs::create_directory(dir_.Path("a"));
    fs::create_directory(dir_.Path("b"));
  }
  // A directory item on `folder` that prints a line per file it reports.
  std::string Item(const std::string& folder, const std::string& extra = "",
                   const std::string& says = "added") const {
    return "IsDirectory=1\nFileName=" + dir_.Sub(folder) + "\nInterval=1\n" + extra +
           "Action=1\nCommand=echo\nParams=" + says + ": %File\nMultiArgs=0\nWait=1\nEOF\n";
  }
  // Saves the configuration in place, or as editors do: a new file renamed
  // over the old one.
  void Save(const std::string& text, bool by_rename) {
    const fs::path target = dir_.Path("my.mon");
    const fs::path written = by_rename ? dir_.Path("my.mon.new") : target;
    std::ofstream(written) << text;
    if (by_rename) fs::rename(written, target);
  }
  std::unique_ptr<ChildProcess> Start(const std::string& text,
                                      std::vector<std::string> options = {}) {
    std::vector<std::string> argv = {"/usr/bin/setsid", SENTREL_BINARY};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(Config(text));
    auto p = std::make_unique<ChildProcess>(argv, "", env_, ChildProcess::Errors::kApart);
    EXPECT_TRUE(p->WaitForOutput("exit.\n")) << p->output() << p->errors();
    return p;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  // Makes files in folder a until the item reports one: the item has
  // surely taken its baseline, or learnt of every change made before.
  void Settle(ChildProcess& p) {
    const std::string probe = dir_.Sub("a/probe-" + std::to_string(++settles_) + "-");
    int n = 0;
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    EXPECT_TRUE(p.ReadUntil(
        [&] {
          if (p.output().find("added: " + probe) != std::string::npos) return true;
          if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(400)) {
            std::ofstream(probe + std::to_string(n++)) << "p";
            last = std::chrono::steady_clock::now();
          }
          return false;
        },
        30000))
        << p.output();
  }
  int settles_ = 0;
};

TEST_F(ReloadTest, AnUnchangedItemRunsOnThroughReloadsAndReportsEachChangeOnce) {
  auto p = Start(Item("a"));
  Settle(*p);
  const std::string a = Item("a");
  int reloads = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    // The other item comes and goes, changed each time it comes.
    const bool with_b = round % 2 == 0;
    const size_t from = p->output().size();
    Save(a + (with_b ? Item("b", "Comment=" + std::to_string(round) + "\n") : ""), round % 4 < 2);
    // Made while the reload runs around the item.
    std::ofstream(dir_.Path("a/f" + std::to_string(round))) << round;
    ASSERT_TRUE(p->WaitForOutput(std::string("Configuration reloaded: 1 item kept, ") +
                                     (with_b ? "1 started, 0 stopped\n" : "0 started, 1 stopped\n"),
                                 30000, from))
        << p->output() << p->errors();
    ++reloads;
    ASSERT_EQ(Count(p->output(), "Configuration reloaded"), static_cast<size_t>(reloads));
  }
  p->Signal(SIGHUP);  // a service's reload: nothing changed
  ASSERT_TRUE(p->WaitForOutput("Configuration reloaded: 1 item kept, 0 started, 0 stopped\n",
                               30000));
  auto all_reported = [&] {
    for (int round = 0; round < 8; ++round) {
      if (p->output().find(dir_.Sub("a/f" + std::to_string(round)) + "\n") == std::string::npos) {
        return false;
      }
    }
    return true;
  };
  EXPECT_TRUE(p->ReadUntil(all_reported)) << p->output();
  Settle(*p);  // and nothing more comes of them
  p->Signal(SIGTERM);
  EXPECT_EQ(p->WaitExit(), 0);
  for (int round = 0; round < 8; ++round) {
    EXPECT_EQ(Count(p->output(), "added: " + dir_.Sub("a/f" + std::to_string(round)) + "\n"), 1u)
        << round << "\n" << p->output();
  }
  EXPECT_EQ(p->errors(), "");
}

TEST_F(ReloadTest, AFileWithAnErrorChangesNothing) {
  auto p = Start(Item("a"));
  Settle(*p);
  // Item a changed, and an item whose mask is invalid (on the file's line
  // 13): none of it is taken.
  Save(Item("a", "", "again") + "IsDirectory=1\nFileName=" + dir_.Sub("b") +
           "\nInterval=1\nMask=[]\nEOF\n",
       false);
  ASSERT_TRUE(p->ReadUntil([&] { return p->errors().find("not reloaded") != std::string::npos; }))
      << p->errors();
  EXPECT_TRUE(std::regex_search(p->errors(), std::regex("my\\.mon:13: .*Mask")))
      << p->errors();
  // The item on folder a runs on as it was.
  Settle(*p);
  p->Signal(SIGTERM);
  EXPECT_EQ(p->WaitExit(), 0);
  EXPECT_EQ(p->output().find("again: "), std::string::npos) << p->output();
  EXPECT_EQ(p->output().find("Configuration reloaded"), std::string::npos);
}

TEST_F(ReloadTest, WithNoReloadASaveIsNotReadButSighupIs) {
  auto p = Start(Item("a"), {"--no-reload"});
  Settle(*p);
  Save(Item("a") + Item("b"), false);
  // Reports made after the save have surely outlasted a reload's delay.
  Settle(*p);
  Settle(*p);
  EXPECT_EQ(p->output().find("Configuration reloaded"), std::string::npos);
  p->Signal(SIGHUP);
  EXPECT_TRUE(p->WaitForOutput("Configuration reloaded: 1 item kept, 1 started, 0 stopped\n"));
  p->Signal(SIGTERM);
  EXPECT_EQ(p->WaitExit(), 0);
}

// As configuration management lays files out: releases side by side, a
// link to the current one, and the configuration a link into it.
TEST_F(ReloadTest, SavesThroughLinksAndASwitchedLinkAreFollowed) {
  fs::create_directory(dir_.Path("rel1"));
  fs::create_directory(dir_.Path("rel2"));
  std::ofstream(dir_.Path("rel1/a.mon")) << Item("a");
  fs::create_directory_symlink("rel1", dir_.Path("current"));
  fs::create_symlink("current/a.mon", dir_.Path("my.mon"));
  ChildProcess p({"/usr/bin/setsid", SENTREL_BINARY, dir_.Sub("my.mon")}, "", env_,
                 ChildProcess::Errors::kApart);
  ASSERT_TRUE(p.WaitForOutput("exit.\n")) << p.output() << p.errors();
  Settle(p);
  auto reloaded = [&](const std::string& says) {
    const size_t from = p.output().size();
    return [&p, says, from] {
      return p.WaitForOutput("Configuration reloaded: 1 item kept, " + says + "\n", 30000, from);
    };
  };
  auto both = reloaded("1 started, 0 stopped");
  std::ofstream(dir_.Path("rel1/a.mon")) << Item("a") + Item("b");  // in place
  ASSERT_TRUE(both()) << p.output() << p.errors();
  auto one = reloaded("0 started, 1 stopped");
  std::ofstream(dir_.Path("rel1/a.mon.new")) << Item("a");  // renamed over
  fs::rename(dir_.Path("rel1/a.mon.new"), dir_.Path("rel1/a.mon"));
  ASSERT_TRUE(one()) << p.output() << p.errors();
  // The release switched as a deployment does it: a new link renamed over.
  std::ofstream(dir_.Path("rel2/a.mon")) << Item("a") + Item("b", "Comment=rel2\n");
  fs::create_directory_symlink("rel2", dir_.Path("next"));
  auto switched = reloaded("1 started, 0 stopped");
  fs::rename(dir_.Path("next"), dir_.Path("current"));
  ASSERT_TRUE(switched()) << p.output() << p.errors();
  // Saves to the new release are followed, and the old one is left alone.
  auto again = reloaded("0 started, 1 stopped");
  std::ofstream(dir_.Path("rel2/a.mon")) << Item("a");
  ASSERT_TRUE(again()) << p.output() << p.errors();
  Settle(p);
  const size_t from = p.output().size();
  std::ofstream(dir_.Path("rel1/a.mon")) << Item("b");
  Settle(p);
  Settle(p);
  EXPECT_EQ(p.output().find("Configuration reloaded", from), std::string::npos) << p.output();
  p.Signal(SIGTERM);
  EXPECT_EQ(p.WaitExit(), 0);
  EXPECT_EQ(p.errors(), "");
}

}  // namespace
}  // namespace sentrel

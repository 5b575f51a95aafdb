// The configuration saved while Sentrel runs, on any system: a save caught
// halfway, and an item changed while its program is still at work.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "child_process.h"
#include "console_program_fixture.h"
#include "record_args.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class ReloadSaveTest : public ConsoleProgramTest {
 protected:
  ReloadSaveTest() {
    fs::create_directory(dir_.Path("a"));
    env_.push_back("XDG_STATE_HOME=" + home_.Sub("state"));
    env_.push_back("RECORD_ARGS_FILE=" + dir_.Sub("started"));
  }
  // A directory item on folder a whose program records each file reported.
  std::string Item(const std::string& extra = "") const {
    return "IsDirectory=1\nFileName=" + dir_.Sub("a") + "\nInterval=1\n" + extra +
           "Action=1\nCommand=" + RecordArgsProgram() + "\nParams=%File\nMultiArgs=0\nWait=1\nEOF\n";
  }
  void Save(const std::string& text) { std::ofstream(dir_.Path("my.mon"), std::ios::binary) << text; }
  std::unique_ptr<ChildProcess> Start(const std::string& text) {
    auto p = std::make_unique<ChildProcess>(std::vector<std::string>{SENTREL_BINARY, Config(text)},
                                            "", env_, ChildProcess::Errors::kApart);
    EXPECT_TRUE(p->WaitForOutput("exit.\n")) << p->output() << p->errors();
    return p;
  }
  // How many times the program was started for file `name` of folder a.
  size_t Reports(const std::string& name) const {
    size_t n = 0;
    for (const auto& start : RecordedStarts(dir_.Sub("started"))) {
      if (start.size() == 1 && start[0] == dir_.Sub("a/" + name)) ++n;
    }
    return n;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  // Makes files in folder a until the item reports one: it runs, and has
  // learnt of every change made before.
  void Settle(ChildProcess& p) {
    const std::string probe = "probe-" + std::to_string(++settles_) + "-";
    int n = 0;
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    EXPECT_TRUE(p.ReadUntil(
        [&] {
          for (int i = 0; i < n; ++i) {
            if (Reports(probe + std::to_string(i)) > 0) return true;
          }
          if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(400)) {
            std::ofstream(dir_.Path("a/" + probe + std::to_string(n++))) << "p";
            last = std::chrono::steady_clock::now();
          }
          return false;
        },
        30000))
        << p.output() << p.errors();
  }
  int settles_ = 0;
};

// Some tools write a file in parts, or empty it before they write it: what
// a reload finds meanwhile is no configuration to run, and the item goes
// on without a new baseline, so that nothing made meanwhile is missed.
TEST_F(ReloadSaveTest, AnUnfinishedSaveIsAnErrorAndTheItemsRunOn) {
  auto p = Start(Item());
  Settle(*p);
  const std::string block = Item();
  const struct {
    std::string text, why;
  } unfinished[] = {
      {block.substr(0, block.find("Wait=1")), "my.mon:1: error: this block has no EOF line"},
      {"", "my.mon: error: no item"},
      {"; only a comment so far\n", "my.mon: error: no item"},
      {std::string("IsDirectory=1\n\0\x01\x02\x03", 18), "my.mon: error: is not a configuration"},
  };
  size_t refused = 0;
  for (const auto& u : unfinished) {
    SCOPED_TRACE(u.why);
    Save(u.text);
    ASSERT_TRUE(p->ReadUntil([&] { return Count(p->errors(), "not reloaded") > refused; }, 30000))
        << p->output() << p->errors();
    ++refused;
    EXPECT_NE(p->errors().find(u.why), std::string::npos) << p->errors();
    // Made while the file is unfinished.
    std::ofstream(dir_.Path("a/f" + std::to_string(refused))) << "f";
  }
  Save(block);
  ASSERT_TRUE(p->WaitForOutput("Configuration reloaded: 1 item kept, 0 started, 0 stopped\n", 30000))
      << p->output() << p->errors();
  auto all_reported = [&] {
    for (size_t i = 1; i <= refused; ++i) {
      if (Reports("f" + std::to_string(i)) == 0) return false;
    }
    return true;
  };
  EXPECT_TRUE(p->ReadUntil(all_reported, 30000)) << p->output();
  Settle(*p);  // and nothing more comes of them
  p->Send("x");
  EXPECT_EQ(p->WaitExit(), 0);
  for (size_t i = 1; i <= refused; ++i) EXPECT_EQ(Reports("f" + std::to_string(i)), 1u) << i;
  EXPECT_EQ(Count(p->output(), "Configuration reloaded"), 1u) << p->output();
}

// The item's program is still at work on a file when its block changes:
// the new item waits for it, so the two never run at once, and takes the
// state the old one saved, so that file is not handed over again.
TEST_F(ReloadSaveTest, AChangedItemStartsOnceItsOldSelfHasEnded) {
  env_.push_back("RECORD_ARGS_WAIT_FOR=" + dir_.Sub("go"));
  auto p = Start(Item("SaveState=1\n"));
  // Files until the item reports one (those made before its first check
  // are its baseline): the program started for it is still at work.
  std::string held;
  int n = 0;
  auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  ASSERT_TRUE(p->ReadUntil(
      [&] {
        for (int i = 0; i < n && held.empty(); ++i) {
          if (Reports("busy-" + std::to_string(i)) > 0) held = "busy-" + std::to_string(i);
        }
        if (held.empty() && std::chrono::steady_clock::now() - last > std::chrono::milliseconds(400)) {
          std::ofstream(dir_.Path("a/busy-" + std::to_string(n++))) << "b";
          last = std::chrono::steady_clock::now();
        }
        return !held.empty();
      },
      30000))
      << p->output();
  Save(Item("SaveState=1\nComment=changed\n"));
  ASSERT_TRUE(p->WaitForOutput("Configuration reloaded: 0 items kept, 1 started, 1 stopped\n", 30000))
      << p->output() << p->errors();
  std::ofstream(dir_.Path("go")) << "";
  Settle(*p);
  p->Send("x");
  EXPECT_EQ(p->WaitExit(), 0);
  EXPECT_EQ(Reports(held), 1u) << p->output();
  for (int i = 0; i < n; ++i) EXPECT_LE(Reports("busy-" + std::to_string(i)), 1u) << i;
  EXPECT_EQ(p->errors(), "");
}

}  // namespace
}  // namespace sentrel

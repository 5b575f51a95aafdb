// Items that keep their state across runs, as a user meets them: the real
// executable stopped, the tree changed meanwhile, and started again. Every
// run keeps its state folder in a temporary folder.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "child_process.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

class SaveStateTest : public ::testing::Test {
 protected:
  SaveStateTest() {
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "XDG_STATE_HOME=" + state_.str(), "LC_ALL=C"};
    fs::create_directory(dir_.Path("tree"));
  }

  // A directory item on the tree that prints one line per reported file
  // ("added: /path"), with `extra` lines added to its block, and `more`
  // blocks after it.
  std::string Config(const std::string& extra, const std::string& more = "") {
    return dir_.Write("my.mon", "IsDirectory=1\nFileName=" + Tree() + "\nInterval=1\n" +
                                    "Conditions=1110\nStorePrevInfo=1\n" + extra + kEcho +
                                    "EOF\n" + more);
  }
  std::string Tree() const { return dir_.Sub("tree"); }
  std::string InTree(const std::string& name) const { return dir_.Sub("tree/" + name); }

  // The state files in the state folder, temporary ones apart.
  std::vector<fs::path> StateFiles(bool temporary = false) const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(state_.Path("sentrel"), ec)) {
      if ((e.path().extension() == ".tmp") == temporary) files.push_back(e.path());
    }
    return files;
  }

  // Starts sentrel and waits until its item has surely done its first check
  // and that check's actions: a file made after a probe was reported is
  // reported by a later check. Probes are made until one is.
  std::unique_ptr<ChildProcess> StartAndSettle(const std::string& config) {
    auto p = std::make_unique<ChildProcess>(std::vector<std::string>{SENTREL_BINARY, config}, "",
                                            env_, ChildProcess::Errors::kApart);
    // Named anew for each run: a probe of the last run that its last check
    // did not see is reported by this run's first check.
    const std::string probe = InTree("probe-" + std::to_string(++runs_) + "-");
    const std::string last_probe = probe + "last";
    int probes = 0;
    bool seen = false;
    auto last = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    const bool settled = p->ReadUntil(
        [&] {
          if (!seen && p->output().find("added: " + probe) != std::string::npos) {
            seen = true;
            std::ofstream(last_probe) << "p";
          }
          if (seen) return p->output().find("added: " + last_probe) != std::string::npos;
          if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(400)) {
            std::ofstream(probe + std::to_string(probes++)) << "p";
            last = std::chrono::steady_clock::now();
          }
          return false;
        },
        60000);
    EXPECT_TRUE(settled) << p->output() << p->errors();
    return p;
  }
  // Stops it as a user does, which saves the state.
  static void Stop(ChildProcess& p) {
    p.Send("x");
    EXPECT_EQ(p.WaitExit(60000), 0);
  }
  // What it reported, probes left out. Items may report before the
  // program's own messages are out.
  std::multiset<std::string> Reports(const ChildProcess& p) const {
    std::multiset<std::string> got;
    std::istringstream lines(p.output());
    for (std::string line; std::getline(lines, line);) {
      const bool report = line.rfind("added: ", 0) == 0 || line.rfind("changed: ", 0) == 0 ||
                          line.rfind("deleted: ", 0) == 0;
      if (report && line.find(InTree("probe-")) == std::string::npos) got.insert(line);
    }
    return got;
  }

  static constexpr const char* kEcho =
      "Action=1\nCommand=echo\nParams=%Added=\"added\"%Changed=\"changed\"%Deleted=\"deleted\": "
      "%File\nMultiArgs=0\nWait=1\n";
  TempDir dir_, home_, state_;
  std::vector<std::string> env_;
  int runs_ = 0;
};

void SetTime(const std::string& path, int hours_ago) {
  fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(hours_ago));
}

TEST_F(SaveStateTest, WhatChangedWhileStoppedIsReportedAtTheNextStartOnlyWithTheKey) {
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "SaveState=1" : "SaveState=0");
    fs::remove_all(Tree());
    fs::create_directory(Tree());
    fs::remove_all(state_.Path("sentrel"));
    for (const char* name : {"keep", "change", "gone"}) std::ofstream(InTree(name)) << name;
    // A single-file item that fires when its file was written since the
    // previous check; its file was last written long ago.
    const std::string beat = dir_.Sub("beat");
    std::ofstream(beat) << "beat";
    SetTime(beat, 5);
    const std::string key = save ? "SaveState=1\n" : "SaveState=0\n";
    const std::string config =
        Config(key, "IsDirectory=0\nFileName=" + beat + "\nIfChanged=1\n" + key + kEcho + "EOF\n");
    auto first = StartAndSettle(config);
    Stop(*first);
    EXPECT_EQ(StateFiles().size(), save ? 2u : 0u);

    std::ofstream(InTree("new")) << "new";
    std::ofstream(InTree("change")) << "changed";
    SetTime(InTree("change"), 3);
    fs::remove(InTree("gone"));
    SetTime(beat, 4);  // written while stopped, still long ago
    auto second = StartAndSettle(config);
    Stop(*second);
    if (save) {
      EXPECT_EQ(Reports(*second),
                (std::multiset<std::string>{"added: " + InTree("new"),
                                            "changed: " + InTree("change"),
                                            "deleted: " + InTree("gone"), "changed: " + beat}))
          << second->output();
    } else {
      EXPECT_TRUE(Reports(*second).empty()) << second->output();
    }
    EXPECT_EQ(second->errors(), "");
  }
}

TEST_F(SaveStateTest, AStateOfOtherMasksOrADamagedOneIsNotUsedAndSaidSo) {
  const std::string config = Config("SaveState=1\n");
  std::ofstream(InTree("old")) << "old";
  auto first = StartAndSettle(config);
  Stop(*first);
  ASSERT_EQ(StateFiles().size(), 1u);
  const fs::path state = StateFiles()[0];
  const fs::path good = dir_.Path("good.state");
  fs::copy_file(state, good);
  std::ofstream(InTree("new")) << "new";

  struct Case {
    const char* what;
    std::string extra;
    std::function<void()> damage;
    std::string said;
  };
  const auto size = fs::file_size(good);
  const Case cases[] = {
      {"other masks", "Mask=*;*.none\n", [] {},
       "the state saved with Mask \"*\" (now \"*;*.none\") is not used"},
      {"truncated", "", [&] { fs::resize_file(state, size / 2); }, "the saved state \""},
      {"a flipped bit", "",
       [&] {
         std::fstream f(state, std::ios::in | std::ios::out | std::ios::binary);
         f.seekg(static_cast<std::streamoff>(size * 2 / 3));
         const char c = static_cast<char>(f.get() ^ 0x10);
         f.seekp(static_cast<std::streamoff>(size * 2 / 3));
         f.put(c);
       },
       "is damaged (its checksum does not match its content)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::copy_file(good, state, fs::copy_options::overwrite_existing);
    c.damage();
    auto run = StartAndSettle(Config("SaveState=1\n" + c.extra));
    Stop(*run);
    EXPECT_TRUE(Reports(*run).empty()) << run->output();
    EXPECT_NE(run->errors().find(c.said), std::string::npos) << run->errors();
    EXPECT_NE(run->errors().find("; the item starts with a fresh baseline\n"), std::string::npos);
    EXPECT_EQ(std::count(run->errors().begin(), run->errors().end(), '\n'), 1) << run->errors();
  }
}
// A state save cut short by SIGKILL, again and again, at the moment its
// temporary file appears: each next start finds either the previous state
// or the new one, whole, and reports exactly what is new since that one.
TEST_F(SaveStateTest, KillsDuringSavesNeverLoseTheStateNorGiveWrongReports) {
  for (int d = 0; d < 40; ++d) {
    const fs::path sub = dir_.Path("tree/d" + std::to_string(d));
    fs::create_directory(sub);
    for (int f = 0; f < 1500; ++f) {
      std::ofstream((sub / ("some-file-name-" + std::to_string(f) + ".dat")).string());
    }
  }
  const std::string config = Config("SaveState=1\nSubdir=1\nInterval=3600\nRealTime=1\n");
  auto first = StartAndSettle(config);
  Stop(*first);
  ASSERT_EQ(StateFiles().size(), 1u);

  std::set<std::string> made;
  int cut_short = 0;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    const std::string name = InTree("new-" + std::to_string(round));
    std::ofstream(name) << round;
    made.insert("added: " + name);
    ChildProcess p({SENTREL_BINARY, config}, "", env_, ChildProcess::Errors::kApart);
    // The first check reports the new file, then saves.
    ASSERT_TRUE(p.WaitForOutput("added: " + name + "\n", 60000)) << p.output() << p.errors();
    const bool seen = WaitUntil([&] { return !StateFiles(true).empty(); }, 5000);
    p.Signal(SIGKILL);
    p.WaitExit();
    if (seen) ++cut_short;
    EXPECT_EQ(p.errors(), "");
    for (const std::string& line : Reports(p)) EXPECT_EQ(made.count(line), 1u) << line;
  }
  RecordProperty("saves_cut_short", cut_short);
}

}  // namespace
}  // namespace sentrel

// Items that keep their state across runs, as a user meets them: the real
// executable stopped, the tree changed meanwhile, and started again. Every
// run keeps its state folder in a temporary folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

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

  // The state files in the state folder (their journals apart), or the
  // temporary ones.
  std::vector<fs::path> StateFiles(bool temporary = false) const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(state_.Path("sentrel"), ec)) {
      if (e.path().extension() == (temporary ? ".tmp" : ".state")) files.push_back(e.path());
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
      {"its journal alone", "",
       [&] {
         fs::remove(state);
         std::ofstream(state.string() + ".journal") << "journal";
       },
       "is missing, though its journal \""},
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
TEST_F(SaveStateTest, SomethingNotAFileInTheStatesPlaceIsLeftAloneAndTheItemRunsOn) {
  const std::string config = Config("SaveState=1\n");
  Stop(*StartAndSettle(config));
  ASSERT_EQ(StateFiles().size(), 1u);
  const std::string state = StateFiles()[0].string();
  fs::remove(state);
  ASSERT_EQ(::mkfifo(state.c_str(), 0600), 0);
  // Settling proves the item checks on; before, it waited for a writer.
  auto run = StartAndSettle(config);
  Stop(*run);
  EXPECT_TRUE(fs::is_fifo(state));
  EXPECT_NE(run->errors().find("\"" + state + "\" is not a regular file"), std::string::npos)
      << run->errors();
  EXPECT_EQ(std::count(run->errors().begin(), run->errors().end(), '\n'), 1) << run->errors();
}

// A state folder that others could fill or empty, or that leads elsewhere,
// is not used at all: the state it holds is not read, nothing is written or
// removed there, and one line says what to do.
TEST_F(SaveStateTest, AStateFolderOthersControlIsNeitherReadNorWritten) {
  const std::string config = Config("SaveState=1\n");
  const std::string folder = state_.Path("sentrel");
  Stop(*StartAndSettle(config));
  ASSERT_EQ(StateFiles().size(), 1u);
  const fs::path state = StateFiles()[0];
  // A leftover of a save cut short goes; a file of another's that only
  // looks alike stays.
  const fs::path leftover = state.string() + ".4242-7.tmp";
  const fs::path foreign = state.string() + ".notes.tmp";
  std::ofstream(leftover.string()) << "x";
  std::ofstream(foreign.string()) << "x";
  std::ofstream(InTree("while-stopped")) << "x";
  Stop(*StartAndSettle(config));
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::exists(foreign));
  const auto saved = fs::last_write_time(state);

  struct Case {
    const char* what;
    std::function<void()> make, undo;
    std::string said;
  };
  const std::string real = state_.Path("real");
  const Case cases[] = {
      {"writable by others", [&] { fs::permissions(folder, fs::perms::all); },
       [&] { fs::permissions(folder, fs::perms::owner_all); },
       "can be written by other users: no saved state is read or written in this run (chmod "
       "go-w \"" + folder + "\")"},
      {"a symbolic link",
       [&] {
         fs::rename(folder, real);
         fs::create_directory_symlink(real, folder);
       },
       [&] {
         fs::remove(folder);
         fs::rename(real, folder);
       },
       "is a symbolic link: no saved state is read or written in this run (remove it;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    std::ofstream(InTree(std::string("unseen-") + c.what[0])) << "x";
    std::ofstream(leftover.string()) << "x";
    auto run = StartAndSettle(config);
    Stop(*run);
    c.undo();
    // Not read: what changed while stopped is not reported.
    EXPECT_TRUE(Reports(*run).empty()) << run->output();
    EXPECT_EQ(run->errors().rfind("sentrel: the state folder \"" + folder + "\" " + c.said, 0), 0u)
        << run->errors();
    EXPECT_EQ(std::count(run->errors().begin(), run->errors().end(), '\n'), 1) << run->errors();
    EXPECT_TRUE(fs::exists(leftover));
    EXPECT_EQ(fs::last_write_time(state), saved);
    fs::remove(leftover);
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

// Stopped by SIGTERM while a check's actions still run: the files whose
// actions did not all run are handed to them at the next start, the ones
// whose actions ran are not, so every file is processed exactly once.
TEST_F(SaveStateTest, AStopDuringActionsLeavesTheirRestForTheNextStart) {
  const std::string processed = dir_.Sub("processed");
  const std::string slow = dir_.Write("slow.sh", "sleep 1\necho \"$1\" >> " + processed + "\n");
  struct Case {
    const char* what;
    std::string action;
    int lines_before_stop;  // in `processed`, when the stop is sent
  };
  const Case cases[] = {
      {"a delayed action", "Action=1\nCommand=sh\nParams=" + slow +
                               " %File\nMultiArgs=0\nWait=0\nDelayBefore=3000\n", 0},
      {"a waited-for program per file",
       "Action=1\nCommand=sh\nParams=" + slow + " %File\nMultiArgs=0\nWait=1\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(state_.Path("sentrel"));
    fs::remove(processed);
    const std::string config = dir_.Write(
        "stop.mon", "IsDirectory=1\nFileName=" + Tree() +
                        "\nInterval=1\nConditions=1110\nStorePrevInfo=1\nSaveState=1\n" + kEcho +
                        c.action + "EOF\n");
    Stop(*StartAndSettle(config));
    std::vector<std::string> made;
    for (int i = 0; i < 3; ++i) {
      made.push_back(InTree("inv-" + std::to_string(&c - cases) + "-" + std::to_string(i)));
      std::ofstream(made.back()) << i;
    }
    auto lines = [&] {
      std::ifstream in(processed);
      std::vector<std::string> got;
      for (std::string line; std::getline(in, line);) {
        if (line.find(InTree("probe-")) == std::string::npos) got.push_back(line);
      }
      return got;
    };
    {
      ChildProcess p({SENTREL_BINARY, config}, "", env_, ChildProcess::Errors::kApart);
      for (const std::string& f : made) ASSERT_TRUE(p.WaitForOutput("added: " + f + "\n", 60000));
      ASSERT_TRUE(WaitUntil([&] { return lines().size() >= size_t(c.lines_before_stop); }, 30000));
      p.Signal(SIGTERM);
      p.WaitExit(60000);
    }
    // A program started before the stop runs on to its end.
    WaitUntil([&] { return lines().size() > size_t(c.lines_before_stop); }, 3000);
    auto second = StartAndSettle(config);
    ASSERT_TRUE(WaitUntil([&] { return lines().size() >= made.size(); }, 30000));
    Stop(*second);
    std::vector<std::string> got = lines();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, made) << second->output() << second->errors();
  }
}

}  // namespace
}  // namespace sentrel

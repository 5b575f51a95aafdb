// What --explain says a check hands to the actions, against what a real
// single pass does: generated trees and items, each path's verdict compared
// with the list a `--once` run writes. (POSIX: the saved state the later
// check needs lives where the environment says.)
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "child_process.h"
#include "loader/monitor_process.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

const char* const kFolders[] = {"", "sub/", "sub/deep/", ".hid/", "skip/", "keep/", "fresh/"};
const char* const kNames[] = {"a.c", "b.h", "c.txt", "d", ".e.c", "f.tmp"};

template <size_t N>
std::string Pick(std::mt19937& rng, const char* const (&from)[N]) {
  return from[rng() % N];
}

class ExplainAgreesWithOnceTest : public ::testing::Test {
 protected:
  ExplainAgreesWithOnceTest() {
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "XDG_STATE_HOME=" + state_.str(), "LC_ALL=C"};
  }

  // One directory item of random settings that lists what it reports.
  std::string Item(std::mt19937& rng, const std::string& tree, const std::string& list) {
    static const char* const kMasks[] = {"*", "*.c;*.h", "*.c", "", "?.*"};
    static const char* const kExcludes[] = {"", "*.tmp", "b*"};
    static const char* const kDirMasks[] = {"*", "s*", "sub;keep;fresh"};
    static const char* const kExclDirs[] = {"", "deep", "skip"};
    std::string text = "IsDirectory=1\nFileName=" + tree + "\nSaveState=1\nMask=" +
                       Pick(rng, kMasks) + "\nExcludeMask=" + Pick(rng, kExcludes) +
                       "\nDirMask=" + Pick(rng, kDirMasks) + "\nExclDirMask=" +
                       Pick(rng, kExclDirs) + "\nSubdir=" + std::to_string(rng() % 3 != 0) +
                       "\nCountHidden=" + std::to_string(rng() % 2) +
                       "\nDirMonitoring=" + std::to_string(rng() % 2) +
                       "\nInverse=" + std::to_string(rng() % 5 == 0) +
                       "\nStorePrevInfo=" + std::to_string(rng() % 2) + "\nConditions=";
    for (int i = 0; i < 4; ++i) text += rng() % 2 == 0 ? "1" : "0";
    if (rng() % 3 == 0) {
      text += "\nConditionType=1\nOlderInterval=3600\nIgnoreAdded=" + std::to_string(rng() % 2);
    }
    if (rng() % 8 == 0) text += "\nDays=0000000";
    return text + "\nAction=0\nListName=" + list + "\nEOF\n";
  }

  // The files a `--once` run of `config` lists for each list.
  std::vector<std::set<std::string>> Once(const std::string& config,
                                          const std::vector<std::string>& lists) {
    for (const auto& l : lists) fs::remove(l);
    ChildProcess p({SENTREL_BINARY, "--once", config}, "", env_, ChildProcess::Errors::kApart);
    EXPECT_EQ(p.WaitExit(60000), 0) << p.errors();
    std::vector<std::set<std::string>> out;
    for (const auto& l : lists) {
      std::istringstream in(ReadFileText(l));
      out.emplace_back();
      for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.back().insert(line);
      }
    }
    return out;
  }

  TempDir dir_, home_, state_;
  std::vector<std::string> env_;
};

TEST_F(ExplainAgreesWithOnceTest, EveryVerdictIsWhatTheRunDoes) {
  std::mt19937 rng(20261208);
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(2);
  int verdicts = 0, reported = 0;
  for (int round = 0; round < 6; ++round) {
    const std::string tree = dir_.MakeDir("tree" + std::to_string(round));
    std::vector<std::string> candidates;
    for (const char* folder : kFolders) {
      if (std::string(folder) != "fresh/") fs::create_directories(tree + "/" + folder);
      for (const char* name : kNames) {
        const std::string path = tree + "/" + folder + name;
        candidates.push_back(path);
        if (std::string(folder) == "fresh/" || rng() % 3 == 0) continue;
        std::ofstream(path) << "x";
        if (rng() % 2) fs::last_write_time(path, old_time);
      }
    }
    std::string text;
    std::vector<std::string> lists;
    std::vector<bool> ages;
    for (int k = 0; k < 10; ++k) {
      lists.push_back(dir_.Sub("list" + std::to_string(round) + "-" + std::to_string(k)));
      // Two single-file items, judged at their first check by the file's age.
      const std::string item =
          k < 8 ? Item(rng, tree, lists.back())
                : "FileName=" + candidates[rng() % candidates.size()] + "\nInterval=3600\n" +
                      "IfChanged=" + std::to_string(rng() % 2) + "\nIgnoreFirst=" +
                      std::to_string(rng() % 4 == 0) + "\nMustExist=1\nAction=0\nListName=" +
                      lists.back() + "\nEOF\n";
      ages.push_back(k >= 8 || item.find("ConditionType=1") != std::string::npos);
      text += item;
    }
    const std::string config = dir_.Write("round" + std::to_string(round) + ".mon", text);

    Services services;
    services.messages = &DiscardSink();
    MonitorProcess process(services);
    process.set_autostart(false);
    ASSERT_TRUE(process.Load(config));
    const auto items = process.Monitors();
    ASSERT_EQ(items.size(), lists.size());
    std::vector<std::map<std::string, BaseMonitoring::PathVerdict>> said(items.size());
    for (size_t k = 0; k < items.size(); ++k) {
      for (const auto& c : candidates) said[k][c] = items[k]->ExplainPath(c);
    }

    // The first check of a run: as the tree is now.
    auto found = Once(config, lists);
    for (size_t k = 0; k < items.size(); ++k) {
      for (const auto& c : candidates) {
        ++verdicts;
        EXPECT_EQ(said[k][c].now, found[k].count(c) == 1)
            << "first check, item " << k << ", " << c << "\n" << said[k][c].text;
        reported += found[k].count(c);
      }
    }

    // A later check, against the state the first one saved: every path
    // added, changed, deleted or left alone.
    std::map<std::string, uint8_t> done;
    for (const auto& c : candidates) {
      const bool exists = fs::exists(c);
      const unsigned roll = rng() % 4;
      if (!exists && roll < 2) {
        fs::create_directories(fs::path(c).parent_path());
        std::ofstream(c) << "new";
        done[c] = kStateAdded;
      } else if (exists && roll == 0) {
        fs::last_write_time(c, fs::last_write_time(c) - std::chrono::seconds(30));
        done[c] = kStateChanged;
      } else if (exists && roll == 1) {
        fs::remove(c);
        done[c] = kStateDeleted;
      }
    }
    found = Once(config, lists);
    for (size_t k = 0; k < items.size(); ++k) {
      // Ages, by which these items judge, have no later verdict to compare.
      if (ages[k]) continue;
      for (const auto& c : candidates) {
        ++verdicts;
        const bool expected = done.count(c) && (said[k][c].later & (1u << done[c]));
        EXPECT_EQ(expected, found[k].count(c) == 1)
            << "later check, item " << k << ", " << c << "\n" << said[k][c].text;
        reported += found[k].count(c);
      }
    }
  }
  // About 3000 verdicts, of which about 100 say reported.
  EXPECT_GE(reported, 50) << "the runs reported enough to compare, of " << verdicts;
}

}  // namespace
}  // namespace sentrel

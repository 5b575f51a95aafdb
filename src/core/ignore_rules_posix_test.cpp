#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/ignore_rules.h"
#include "child_process.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// Names and patterns chosen to meet each rule of the format: anchors, folder
// patterns, negation, "**" in every place, sets, escapes, blanks.
const std::vector<std::string> kNames = {"a",   "b",     "c.c",   "x.o",  "log.log", "build",
                                         "Deep", "deep", "sp ace", "#h",   "!b",      "a.tmp",
                                         "d1",  "keep.o"};
const std::vector<std::string> kPatterns = {
    "*.o",    "!keep.o", "build/", "/a",      "a/b",        "**/deep",  "deep/**", "!c.c",
    "*.log",  "d*/",     "[ab]",   "?.c",     "a/**/c.c",   "\\#h",     "\\!b",    "sp\\ ace",
    "x.o   ", "/*.c",    "b/",     "!b/",     "**/b/*.c",   "[!a]*.o",  "D*",      "*/x.o",
    "#note",  "",        "!*.tmp", "*.tmp",   "d1/**/keep.o", "[[:upper:]]*", "a/**", "!/build"};

struct Tree {
  std::vector<std::pair<std::string, bool>> paths;  // relative path, is a folder
};

void Grow(std::mt19937& rng, const fs::path& root, const std::string& rel, int depth, Tree& tree,
          IgnoreRules& rules) {
  std::uniform_int_distribution<int> count(1, 5), pick_name(0, kNames.size() - 1),
      pick_pattern(0, kPatterns.size() - 1), coin(0, 2);
  if (coin(rng) == 0) {
    std::string text;
    for (int i = count(rng); i > 0; --i) text += kPatterns[pick_pattern(rng)] + "\n";
    std::ofstream(root / rel / ".gitignore", std::ios::binary) << text;
    rules.AddFile(rel, text);
  }
  std::set<std::string> used;
  for (int i = count(rng); i > 0; --i) {
    const std::string name = kNames[pick_name(rng)];
    if (!used.insert(name).second) continue;
    const std::string path = rel.empty() ? name : rel + "/" + name;
    const bool folder = depth < 3 && coin(rng) == 0;
    if (folder) {
      fs::create_directory(root / path);
      tree.paths.emplace_back(path, true);
      Grow(rng, root, path, depth + 1, tree, rules);
    } else {
      std::ofstream(root / path) << "x";
      tree.paths.emplace_back(path, false);
    }
  }
}

// The version control tool's own verdict on every path, with the same rules.
TEST(IgnoreRulesTest, SaysWhatTheVersionControlToolSaysOfEveryPath) {
  ChildProcess probe({"/bin/sh", "-c", "git --version"});
  if (probe.WaitExit() != 0) GTEST_SKIP() << "git is not installed";
  std::mt19937 rng(20261208);
  size_t left_out = 0, kept = 0;
  for (int round = 0; round < 40; ++round) {
    TempDir dir;
    const fs::path root = dir.path() / "tree";
    fs::create_directory(root);
    ChildProcess init({"/bin/sh", "-c", "git init -q \"$0\"", root.string()});
    ASSERT_EQ(init.WaitExit(), 0);
    IgnoreRules rules;
    const std::string global = kPatterns[rng() % kPatterns.size()] + "\n" + "!" +
                               kNames[rng() % kNames.size()] + "\n";
    std::ofstream(dir.path() / "global", std::ios::binary) << global;
    rules.AddGlobal(global);
    Tree tree;
    Grow(rng, root, "", 0, tree, rules);
    std::string paths;
    for (const auto& [path, folder] : tree.paths) paths += path + "\n";
    std::ofstream(dir.path() / "paths") << paths;
    ChildProcess git({"/bin/sh", "-c",
                      "git -c core.excludesFile=../global check-ignore --no-index --stdin "
                      "< ../paths; test $? -le 1"},
                     root.string());
    ASSERT_EQ(git.WaitExit(), 0) << git.output();
    std::set<std::string> ignored;
    std::istringstream lines(git.output());
    for (std::string line; std::getline(lines, line);) ignored.insert(line);
    left_out += ignored.size();
    kept += tree.paths.size() - ignored.size();
    for (const auto& [path, folder] : tree.paths) {
      EXPECT_EQ(rules.Ignores(path, folder), ignored.count(path) == 1)
          << "round " << round << ": " << path << "\n" << paths;
    }
  }
  // Both verdicts are met often enough for the comparison to mean something.
  EXPECT_GT(left_out, 40u);
  EXPECT_GT(kept, 100u);
}

}  // namespace
}  // namespace sentrel

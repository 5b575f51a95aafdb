// A dry run of file operations against the run itself, on the same tree.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "fileop_action_fixture.h"
#include "tree_listing.h"

namespace sentrel {
namespace {

// The lines of `text` that begin with `prefix`, without it.
std::multiset<std::string> LinesAfter(const std::string& text, const std::string& prefix) {
  std::multiset<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(prefix, 0) == 0) out.insert(line.substr(prefix.size()));
  }
  return out;
}

TEST_F(FileOpActionTest, DryRunChangesNothingAndSaysWhatTheRunThenDoes) {
  dir.Write("a.tmp");
  dir.Write("b.tmp");
  dir.Write("sub/a.tmp");  // meets a.tmp in the target: refused, in both
  dir.Write("keep.txt", "old");
  dir.Write("out2/keep.txt", "older");
  const std::vector<std::vector<std::string>> actions = {
      {"OpIndex=1", "OpSource=" + dir.Sub("*.tmp") + ";" + dir.Sub("sub/a.tmp") + ";" +
                        dir.Sub("gone.tmp"),
       "OpDestination=" + dir.Sub("out")},
      {"OpIndex=0", "OpSource=" + dir.Sub("keep.txt"), "OpDestination=" + dir.Sub("out2/"),
       "YesToAll=0"},
      {"OpIndex=1", "OpSource=" + dir.Sub("sub"), "OpDestination=" + dir.Sub("sub/in")},
      {"OpIndex=2", "OpSource=" + dir.Sub("sub"), "OpDestination=renamed"},
      {"OpIndex=3", "OpSource=" + dir.Sub("out2/*")},
  };
  auto run_all = [&] {
    FileList none;
    for (const auto& lines : actions) Make(lines)->Run(none, ctx);
  };

  const std::string before = TreeListing(dir.Path(""));
  services.dry_run = true;
  run_all();
  const std::string preview = sink.Text();
  EXPECT_EQ(TreeListing(dir.Path("")), before);

  services.dry_run = false;
  run_all();
  const std::string run = sink.Text().substr(preview.size());

  // The same refusals, word for word.
  EXPECT_EQ(LinesAfter(preview, "Cannot "), LinesAfter(run, "Cannot "));
  EXPECT_EQ(LinesAfter(preview, "Cannot ").size(), 3u) << preview;
  // Every change the preview named is one the run made, and no other.
  std::multiset<std::string> would, done;
  for (std::string line : LinesAfter(preview, "would ")) {
    if (line.rfind("create folder ", 0) == 0 || line.rfind("ask: ", 0) == 0) continue;
    would.insert(line.substr(0, line.find(" (")));
  }
  const std::pair<const char*, const char*> verbs[] = {
      {"Move: ", "move "}, {"Copy: ", "copy "}, {"Rename: ", "rename "}, {"Delete: ", "delete "}};
  for (const auto& [label, verb] : verbs) {
    for (const std::string& line : LinesAfter(run, label)) done.insert(verb + line);
  }
  EXPECT_EQ(would, done) << preview << "---\n" << run;
  EXPECT_EQ(LinesAfter(preview, "would ask: ").size(), 1u);
  EXPECT_EQ(LinesAfter(preview, "would create folder ").count(dir.Sub("out")), 1u);
}

}  // namespace
}  // namespace sentrel

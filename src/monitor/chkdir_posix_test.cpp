// Directory items with paths longer than a single call may name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "check_dir_fixture.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

TEST_F(WalkTest, LongPathsAndLargeSizesAreKeptWhole) {
  // Built and removed relative to a working directory, since the whole
  // path is longer than the system lets a single call name.
  const fs::path saved = fs::current_path();
  const std::string part(200, 'p');
  fs::current_path(tree_.Path(""));
  fs::path rel = "deep";
  for (int i = 0; i < 22; ++i) {
    fs::create_directories(rel / part);
    fs::current_path(rel / part);
    rel = ".";
  }
  { std::ofstream("leaf.txt") << "x"; }
  fs::current_path(saved);
  fs::resize_file(tree_.Write("huge.bin", ""), int64_t{5} << 30);  // sparse

  auto item = Item({"ConditionType=1", "OlderInterval=60", "Subdir=1"});
  Check(*item);
  std::map<std::string, FileData> by_leaf;
  for (const FileData& f : last_) by_leaf[f.Name.substr(f.Name.rfind('/') + 1)] = f;
  ASSERT_EQ(by_leaf.count("leaf.txt"), 1u);
  EXPECT_EQ(by_leaf["leaf.txt"].Name.size(), tree_.Root().size() + 5 + 22 * 201 + 8);
  EXPECT_EQ(by_leaf["huge.bin"].Size, int64_t{5} << 30);

  fs::current_path(tree_.Path("deep"));
  for (int i = 0; i < 11; ++i) fs::current_path(part);
  fs::remove_all(part);
  fs::current_path(saved);
}

}  // namespace
}  // namespace sentrel

// The worked examples users copy from the configuration guide must be read
// by the check exactly as written: a recipe that draws a remark teaches a
// mistake.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// The ```ini blocks of the guide's "Recipes" section.
std::vector<std::string> Recipes() {
  std::ifstream in(std::string(SENTREL_SOURCE_DIR) + "/docs/configuration.md");
  std::stringstream text;
  text << in.rdbuf();
  const std::string guide = text.str();
  const size_t start = guide.find("\n## Recipes\n");
  if (start == std::string::npos) return {};
  const size_t end = guide.find("\n## ", start + 1);
  const std::string section = guide.substr(start, end - start);
  std::vector<std::string> blocks;
  const std::regex block("```ini\n([^`]*)```");
  for (std::sregex_iterator it(section.begin(), section.end(), block), last; it != last; ++it) {
    blocks.push_back((*it)[1]);
  }
  return blocks;
}

TEST(DocumentedRecipes, EveryWorkedExamplePassesTheCheckClean) {
  const std::vector<std::string> recipes = Recipes();
  ASSERT_GE(recipes.size(), 4u) << "no recipes found in " << SENTREL_SOURCE_DIR;
  TempDir dir, home;
  const std::string root = dir.path().generic_string();
  for (size_t i = 0; i < recipes.size(); ++i) {
    const std::string recipe = std::regex_replace(recipes[i], std::regex("/home/me"), root);
    // The folders a recipe names exist on a user's machine; here they are
    // made: a last part with a dot names a file, whose folder is made.
    const std::regex named(std::regex_replace(root, std::regex(R"([.^$|()\[\]{}*+?\\])"),
                                              R"(\$&)") +
                           "(/[^ ;\n]*)?");
    for (std::sregex_iterator it(recipe.begin(), recipe.end(), named), last; it != last; ++it) {
      std::filesystem::path p = it->str();
      if (p.filename().string().find('.') != std::string::npos) p = p.parent_path();
      std::filesystem::create_directories(p);
    }
    const std::string file = "recipe-" + std::to_string(i + 1) + ".mon";
    dir.Write(file, recipe);
    SentrelRun run = RunSentrel({"--check", file}, dir.str(), home.str());
    EXPECT_EQ(run.code, 0) << recipe;
    EXPECT_EQ(run.err, "") << recipe;
    EXPECT_NE(run.out.find(file + ": 1 item, no problems."), std::string::npos) << run.out;
  }
}

}  // namespace
}  // namespace sentrel

// The worked examples users copy from their documents must be read by the
// check exactly as written: an example that draws a remark teaches a
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

// Every ```ini block of the documents a user reads, without the indent of
// a list it sits in. A block of action lines without an EOF line is shown as
// part of an item: it is checked inside one.
std::vector<std::string> Examples() {
  std::vector<std::string> blocks;
  for (const char* document :
       {"README.md", "docs/configuration.md", "docs/linux.md", "docs/windows.md"}) {
    std::ifstream in(std::string(SENTREL_SOURCE_DIR) + "/" + document);
    std::stringstream text;
    text << in.rdbuf();
    const std::string guide = text.str();
    const std::regex block("\n( *)```ini\n([^`]*)```");
    for (std::sregex_iterator it(guide.begin(), guide.end(), block), last; it != last; ++it) {
      const std::string indent = (*it)[1];
      std::string example = std::regex_replace(std::string((*it)[2]),
                                               std::regex("(^|\n)" + indent), "$1");
      if (!std::regex_search(example, std::regex("(^|\n)EOF\n"))) {
        example = "IsDirectory=1\nFileName=/home/me/in\n" + example + "EOF\n";
      }
      blocks.push_back(example);
    }
  }
  return blocks;
}

TEST(DocumentedRecipes, EveryWorkedExamplePassesTheCheckClean) {
  const std::vector<std::string> recipes = Examples();
  ASSERT_GE(recipes.size(), 19u) << "too few examples found in " << SENTREL_SOURCE_DIR;
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
    const std::regex eof("(^|\n)EOF\n");
    const auto items =
        std::distance(std::sregex_iterator(recipe.begin(), recipe.end(), eof), std::sregex_iterator());
    EXPECT_NE(run.out.find(file + ": " + std::to_string(items) + (items == 1 ? " item" : " items") +
                           ", no problems."),
              std::string::npos)
        << run.out;
  }
}

}  // namespace
}  // namespace sentrel

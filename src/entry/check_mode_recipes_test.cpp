// The worked examples users copy from their documents must be read by the
// check exactly as written: an example that draws a remark teaches a
// mistake.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"
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
  namespace fs = std::filesystem;
  const std::vector<std::string> recipes = Examples();
  ASSERT_GE(recipes.size(), 19u) << "too few examples found in " << SENTREL_SOURCE_DIR;
  TempDir dir, home;
  const std::string root = dir.path().generic_string();
  // The programs an example starts by name are installed on a user's
  // machine; here a script of that name stands for each.
  const std::string bin = dir.MakeDir("bin");
  const char* path = std::getenv("PATH");
  const std::vector<std::string> env = {"XDG_CONFIG_HOME=" + home.str(), "LC_ALL=C", "HOME=" + root,
                                        "PATH=" + bin + ":" + (path ? path : "/usr/bin:/bin")};
  auto program = [](const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "#!/bin/sh\n";
    fs::permissions(p, fs::perms::owner_all);
  };
  for (size_t i = 0; i < recipes.size(); ++i) {
    // Written for Windows only.
    if (std::regex_search(recipes[i], std::regex(R"([A-Z]:\\)"))) continue;
    // The paths an example names exist on a user's machine; here they lie
    // below the test's folder, and are made: a program for a Command, a
    // file's folder for a last part with a dot, else a folder.
    const std::string recipe =
        std::regex_replace(recipes[i], std::regex("(^|\n)([A-Za-z]+)=/"), "$1$2=" + root + "/");
    const std::regex command("(^|\n)Command=([^\n]+)\n");
    for (std::sregex_iterator it(recipe.begin(), recipe.end(), command), last; it != last; ++it) {
      const std::string name = std::regex_replace(std::string((*it)[2]), std::regex("%HOME%"), root);
      if (name.find('%') != std::string::npos) continue;
      program(name.find('/') == std::string::npos ? fs::path(bin) / name : fs::path(name));
    }
    const std::regex named(std::regex_replace(root, std::regex(R"([.^$|()\[\]{}*+?\\])"),
                                              R"(\$&)") +
                           "(/[^ ;\n]*)?");
    for (std::sregex_iterator it(recipe.begin(), recipe.end(), named), last; it != last; ++it) {
      fs::path p = it->str();
      if (fs::exists(p)) continue;
      if (p.filename().string().find('.') != std::string::npos) p = p.parent_path();
      fs::create_directories(p);
    }
    const std::string file = "recipe-" + std::to_string(i + 1) + ".mon";
    dir.Write(file, recipe);
    ChildProcess run({SENTREL_BINARY, "--check", file}, dir.str(), env,
                     ChildProcess::Errors::kApart);
    EXPECT_EQ(run.WaitExit(), 0) << recipe;
    EXPECT_EQ(run.errors(), "") << recipe;
    const std::regex eof("(^|\n)EOF\n");
    const auto items =
        std::distance(std::sregex_iterator(recipe.begin(), recipe.end(), eof), std::sregex_iterator());
    EXPECT_NE(run.output().find(file + ": " + std::to_string(items) +
                                (items == 1 ? " item" : " items") + ", no problems."),
              std::string::npos)
        << run.output();
  }
}

}  // namespace
}  // namespace sentrel

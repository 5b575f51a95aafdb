// Macros over Windows paths: drive letters, shares, either separator.
#include <gtest/gtest.h>

#include <string>

#include "actions/macros.h"

namespace sentrel {
namespace {

std::string Expand(const std::string& name, const std::string& text) {
  Services services;
  return ExpandForFile(FileData(name, 0, 0, kStateNone), text, services);
}

TEST(MacroPathTest, DrivesSharesAndEitherSeparator) {
  EXPECT_EQ(Expand("C:\\a\\b.txt", "%Path|%Name"), "C:\\a|b.txt");
  EXPECT_EQ(Expand("C:\\b.txt", "%Path|%Name"), "C:|b.txt");
  EXPECT_EQ(Expand("\\\\server\\share\\dir\\f.txt", "%Path|%Name"),
            "\\\\server\\share\\dir|f.txt");
  EXPECT_EQ(Expand("C:/data/a.txt", "%Path|%Name"), "C:/data|a.txt");
  EXPECT_EQ(Expand("C:\\data\\logs\\a.txt", "%File=\"D|P|N|E|S:2\""), "C:|data\\logs|a|txt|logs");
  EXPECT_EQ(Expand("C:\\data/logs\\a.txt", "%File=\"P|S:2\""), "data/logs|logs");
}

TEST(MacroPathTest, ThePlaceholderSplitsAtItsOwnSeparators) {
  Services services;
  std::string out;
  ExpandForBatch(FileList(), out, "%Path|%Name|%File=\"N.E\"", 0, 0, services);
  EXPECT_EQ(out, "[D:]\\[P]|[N].[E]|[N].[E]");
}

}  // namespace
}  // namespace sentrel

#include "core/ignore_rules.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(WildMatchTest, StarsStayWithinANameAndDoubleStarsCrossFolders) {
  EXPECT_TRUE(WildMatch("*.c", "a.c"));
  EXPECT_FALSE(WildMatch("*.c", "d/a.c"));
  EXPECT_TRUE(WildMatch("a/*/c", "a/b/c"));
  EXPECT_FALSE(WildMatch("a/*/c", "a/b/x/c"));
  EXPECT_TRUE(WildMatch("a/**/c", "a/c"));
  EXPECT_TRUE(WildMatch("a/**/c", "a/b/x/c"));
  EXPECT_TRUE(WildMatch("**/c", "c"));
  EXPECT_TRUE(WildMatch("a/**", "a/b/c"));
  EXPECT_FALSE(WildMatch("a/**", "a"));
  EXPECT_TRUE(WildMatch("[!a-c]?.[[:digit:]]", "dx.7"));
  EXPECT_FALSE(WildMatch("[!a-c]?.[[:digit:]]", "bx.7"));
  EXPECT_FALSE(WildMatch("a[/]b", "a/b"));
  EXPECT_TRUE(WildMatch("\\*", "*"));
  EXPECT_FALSE(WildMatch("[unclosed", "[unclosed"));
}

TEST(IgnoreRulesTest, DeeperFilesAndLaterLinesDecideAndIgnoredFoldersKeepTheirContent) {
  IgnoreRules rules;
  rules.AddGlobal("*.tmp\n");
  rules.AddFile("", "# a comment\n*.log\nbuild/\n/top.txt\n!keep.log\\ \n");
  rules.AddFile("sub", "!*.tmp\nlocal.txt   \r\n");
  EXPECT_TRUE(rules.Ignores("x/y.log", false));
  EXPECT_FALSE(rules.Ignores("keep.log ", false));
  EXPECT_TRUE(rules.Ignores("keep.log", false));
  EXPECT_TRUE(rules.Ignores("top.txt", false));
  EXPECT_FALSE(rules.Ignores("x/top.txt", false));
  EXPECT_FALSE(rules.Ignores("build", false));
  EXPECT_TRUE(rules.Ignores("x/build", true));
  // Nobody looks into an ignored folder, so nothing there is taken back.
  EXPECT_TRUE(rules.Ignores("build/keep.log ", false));
  EXPECT_TRUE(rules.Ignores("a.tmp", false));
  EXPECT_FALSE(rules.Ignores("sub/a.tmp", false));
  EXPECT_TRUE(rules.Ignores("sub/deeper/local.txt", false));
  EXPECT_FALSE(rules.Ignores("local.txt", false));
}

}  // namespace
}  // namespace sentrel

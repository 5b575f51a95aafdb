#include "core/masks.h"

#include <gtest/gtest.h>

#include <string>

namespace sentrel {
namespace {

struct MatchCase {
  const char* mask;
  const char* name;
  bool matches;
};

TEST(MaskTest, MatchTable) {
  const MatchCase cases[] = {
      {"*", "", true},
      {"*", "anything.at.all", true},
      {"*.*", "README", false},
      {"*.*", "a.b", true},
      {"*.*", ".", true},
      {"*.TXT", "report.txt", true},
      {"*.TXT", "REPORT.Txt", true},
      {"*.txt", "report.txt.bak", false},
      {"[a-c]*", "Beta", true},
      {"[a-c]*", "beta", true},
      {"[!a-c]*", "delta", true},
      {"[!a-c]*", "Alpha", false},
      {"*?", "", true},
      {"?*", "", false},
      {"?*", "x", true},
      {"??*", "x", false},
      {"a*?b", "ab", true},
      {"*??x", "x", true},
      {"a?", "a", false},
      {"a[!x]", "a", false},
      {"a[!x]", "ab", true},
      {"[z-a]", "z", true},
      {"[z-a]", "a", false},
      {"[a-]x]", "]", true},
      {"[a-]x]", "X", true},
      {"[a-]x]", "^", false},
      {"[_-~]", "a", false},
      {"[_-~]", "A", false},
      {"[_-~]", "_", true},
      {"[*]", "*", true},
      {"[*]", "a", false},
      {"[?]x", "?x", true},
      {"[[]", "[", true},
      {"[a-c-e]", "d", true},
      {"", "", true},
      {"", "a", false},
      {"*a*b*c", "xxaxxbxxbxxc", true},
      {"*a*b*c", "xxaxxbxxbxxcd", false},
      {"*ab", "aab", true},
      {"a*b*", "aXbY", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TMask(c.mask).Matches(c.name), c.matches)
        << "mask '" << c.mask << "' name '" << c.name << "'";
  }
}

TEST(MaskTest, Utf8SequenceIsOneCharacterWithoutCaseFolding) {
  const MatchCase cases[] = {
      {"\xC3\x89*", "\xC3\x89" "1", true},           // É*  vs É1
      {"\xC3\x89*", "\xC3\xA9" "1", false},          // É*  vs é1: no folding
      {"?", "\xC3\xA9", true},                       // é is one character
      {"??", "\xC3\xA9", false},
      {"?", "\xE2\x82\xAC", true},                   // € (three bytes)
      {"?", "\xF0\x9F\x98\x80", true},               // an emoji (four bytes)
      {"[!a]", "\xC3\xA9", true},                    // a set consumes it whole
      {"[a-z]", "\xC3\xA9", false},
      {"*\xC3\xA9", "caf\xC3\xA9", true},
      {"a?c", "a\xC3\xA9" "c", true},
      // Invalid or truncated sequences are single bytes.
      {"??", "\xC3", false},
      {"?", "\xC3", true},
      {"??", "\xC3x", true},
      {"?", "\xC3x", false},
      {"??", "\xE2\x82", true},
      {"?", "\xC0\x80", false},                      // overlong form
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TMask(c.mask).Matches(c.name), c.matches)
        << "mask '" << c.mask << "' name '" << c.name << "'";
  }
}

TEST(MaskTest, InvalidMasksNameTheirPosition) {
  const std::pair<const char*, const char*> cases[] = {
      {"[]", "'[]' is an invalid mask at (2)"},
      {"[!]", "'[!]' is an invalid mask at (3)"},
      {"[-a]", "'[-a]' is an invalid mask at (2)"},
      {"[!-a]", "'[!-a]' is an invalid mask at (3)"},
      {"[abc", "'[abc' is an invalid mask at (5)"},
      {"x[a-", "'x[a-' is an invalid mask at (5)"},
      {"[\xC3\xA9]", "'[\xC3\xA9]' is an invalid mask at (4)"},  // no one-byte member
  };
  for (const auto& [mask, message] : cases) {
    try {
      TMask m(mask);
      ADD_FAILURE() << "'" << mask << "' compiled";
    } catch (const InvalidMask& e) {
      EXPECT_STREQ(e.what(), message);
    }
  }
}

TEST(MaskTest, ThirtySkipElementsAreTheLimit) {
  std::string thirty;
  for (int i = 0; i < 30; ++i) thirty += "*a";
  EXPECT_NO_THROW(TMask{thirty});
  EXPECT_TRUE(TMask(thirty).Matches(std::string(30, 'a')));

  try {
    TMask m(thirty + "*a");
    ADD_FAILURE() << "31 skip elements compiled";
  } catch (const InvalidMask& e) {
    EXPECT_EQ(e.position(), 62);
    EXPECT_EQ(std::string(e.what()), "'" + thirty + "*a' is an invalid mask at (62)");
  }
  // A final "*" is carried by the end element and counts too.
  try {
    TMask m(thirty + "*");
    ADD_FAILURE() << "31 skip elements compiled";
  } catch (const InvalidMask& e) {
    EXPECT_EQ(e.position(), 62);
  }
  // The 31st on a set names its "]", on a multi-byte literal its last byte.
  EXPECT_THROW(TMask(thirty + "*[xy]"), InvalidMask);
  try {
    TMask m(thirty + "*\xC3\xA9");
    ADD_FAILURE() << "31 skip elements compiled";
  } catch (const InvalidMask& e) {
    EXPECT_EQ(e.position(), 63);
  }
}

TEST(MaskTest, PathologicalMaskStaysFast) {
  // A naive backtracking search would take exponential time here.
  std::string mask;
  for (int i = 0; i < 25; ++i) mask += "*a";
  mask += "b";
  EXPECT_FALSE(TMask(mask).Matches(std::string(4000, 'a')));
}

TEST(SplitMasksTest, PiecesAreCutAtSeparatorsAndKeepBlanks) {
  MaskList list;
  SplitMasks(";;*.txt;", list);
  ASSERT_EQ(list.size(), 1u);

  list.clear();
  SplitMasks("*.txt; *.doc", list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(MatchesAnyMask(list, "a.txt"));
  EXPECT_FALSE(MatchesAnyMask(list, "a.doc"));
  EXPECT_TRUE(MatchesAnyMask(list, " a.doc"));

  list.clear();
  SplitMasks(";;;", list);
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(MatchesAnyMask(list, ""));
  EXPECT_FALSE(MatchesAnyMask(list, "a"));
}

TEST(SplitMasksTest, ValueIsCutAfter4096Characters) {
  std::string value(4090, 'x');
  value += ";abcdefgh";  // the second mask is cut to "abcde"
  MaskList list;
  SplitMasks(value, list);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_TRUE(list[1].Matches("abcde"));
  EXPECT_FALSE(list[1].Matches("abcdefgh"));
}

TEST(SplitMasksTest, BadPieceKeepsEarlierMasksAndNamesOnlyItself) {
  MaskList list;
  try {
    SplitMasks("*.txt;a[]b;*.doc", list);
    ADD_FAILURE() << "no error";
  } catch (const InvalidMask& e) {
    EXPECT_STREQ(e.what(), "'a[]b' is an invalid mask at (3)");
  }
  ASSERT_EQ(list.size(), 1u);
  EXPECT_TRUE(list[0].Matches("x.txt"));
}

}  // namespace
}  // namespace sentrel

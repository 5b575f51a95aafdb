#include "lang/lang.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace sentrel {
namespace {

TEST(LangTableTest, BuiltInTableHasFiftyTwoTextsAndEmptyOutside) {
  AdvStringList table;
  EXPECT_EQ(table.Count(), 52);
  EXPECT_EQ(table.TextAt(kLngCantLoad), "Can not load configuration file");
  EXPECT_EQ(table.TextAt(kLngNotifyTitle), "Sentrel Notification");
  EXPECT_EQ(table.TextAt(kLngLoaded), "Configuration file \"%s\" is loaded.");
  EXPECT_EQ(table.TextAt(kLngStarted), "Monitoring started. Press 'X' to exit.");
  EXPECT_EQ(table.TextAt(52), "");
  EXPECT_EQ(table.TextAt(-1), "");
}

TEST(LangTableTest, LanguageFileReplacesOnlyTheKeysItDefines) {
  TempDir dir;
  dir.Write("Lang/Test.lng",
            "[General]\nNationalLangName = Testish\n"
            "[Strings]\n; a comment\nLNGSTARTED = \"Watching. Press X.\"\n"
            "lngLoaded=\nlngNotifyTitle=" + std::string(3000, 'n') + "\n"
            "lngStarted=second definition is ignored\n");
  Lang lang(dir.Sub("Lang/"), "Test.lng");
  AdvStringList table;
  lang.LoadStrings(table, "Strings");
  EXPECT_EQ(table.TextAt(kLngStarted), "Watching. Press X.");
  EXPECT_EQ(table.TextAt(kLngLoaded), "");  // present but empty wins over the built-in
  EXPECT_EQ(table.TextAt(kLngNotifyTitle).size(), 2047u);
  EXPECT_EQ(table.TextAt(kLngCantLoad), "Can not load configuration file");
  EXPECT_EQ(lang.NationalLangName(), "Testish");
  EXPECT_EQ(lang.HelpFile(), "help-en.chm");
}

// As written on Windows: another case of letters than the settings name,
// and a byte-order mark before the first section.
TEST(LangTableTest, FileFromWindowsIsFoundAndReadWhole) {
  TempDir dir;
  dir.Write("Lang/english.LNG", "\xEF\xBB\xBF[Strings]\nlngStarted=Go!\n");
  AdvStringList table;
  Lang(dir.Sub("Lang/"), "English.lng").LoadStrings(table, "Strings");
  EXPECT_EQ(table.TextAt(kLngStarted), "Go!");

  dir.Write("Lang/English.lng", "[Strings]\nlngStarted=Exact\n");
  Lang(dir.Sub("Lang/"), "English.lng").LoadStrings(table, "Strings");
  EXPECT_EQ(table.TextAt(kLngStarted), "Exact");
}

TEST(LangTableTest, MissingLanguageFileKeepsEveryBuiltInText) {
  TempDir dir;
  Lang lang(dir.Sub("Lang/"), "Absent.lng");
  AdvStringList table, builtin;
  lang.LoadStrings(table, "Strings");
  for (int i = 0; i < builtin.Count(); ++i) EXPECT_EQ(table.TextAt(i), builtin.TextAt(i));
  EXPECT_EQ(lang.PopupFile(), "popup-en.txt");
}

}  // namespace
}  // namespace sentrel

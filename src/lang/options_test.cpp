#include "lang/options.h"

#include <gtest/gtest.h>

#include "platform/settings_store.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  Options Load() {
    Options o;
    auto store = OpenSettingsStoreAt(dir_.str());
    LoadOptions(*store, o);
    return o;
  }
  TempDir dir_;
};

TEST_F(OptionsTest, NoStoredSettingsGiveTheDefaults) {
  Options o = Load();
  EXPECT_TRUE(o.SavePosition);
  EXPECT_FALSE(o.StartMinimized);
  EXPECT_EQ(o.Interval, 1);
  EXPECT_EQ(o.Language, "English.lng");
}

TEST_F(OptionsTest, StoredValuesAreReadAndBadOnesKeepTheirDefaults) {
  dir_.Write("Brenmoor/Sentrel/values.reg",
             "\"Language\"=\"Deutsch.lng\"\n"
             "\"startminimized\"=dword:00000002\n"
             "\"SavePosition\"=dword:00000000\n"
             "\"TrayMinimize\"=\"not a number\"\n"
             "\"Interval\"=dword:0000000a\n"
             "garbage line\n");
  Options o = Load();
  EXPECT_EQ(o.Language, "Deutsch.lng");
  EXPECT_TRUE(o.StartMinimized);
  EXPECT_FALSE(o.SavePosition);
  EXPECT_TRUE(o.TrayMinimize);
  EXPECT_EQ(o.Interval, 10);
}

TEST_F(OptionsTest, IntervalOutsideOneToTenBecomesOne) {
  for (const char* stored : {"00000000", "fffffffb", "0000000b"}) {
    dir_.Write("Brenmoor/Sentrel/values.reg", std::string("\"Interval\"=dword:") + stored + "\n");
    EXPECT_EQ(Load().Interval, 1) << stored;
  }
}

TEST_F(OptionsTest, LegacySettingsMoveOverWhenNoCurrentOnesExist) {
  dir_.Write("Corvane/Sentrel/values.reg", "\"Language\"=\"Old.lng\"\n");
  dir_.Write("Corvane/Sentrel/Sub/values.reg", "\"X\"=dword:00000001\n");
  EXPECT_EQ(Load().Language, "Old.lng");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Brenmoor/Sentrel/Sub/values.reg"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Corvane"));
}

TEST_F(OptionsTest, LegacySettingsAreDroppedWhenCurrentOnesExist) {
  dir_.Write("Corvane/Sentrel/values.reg", "\"Language\"=\"Old.lng\"\n");
  dir_.Write("Corvane/Other/values.reg", "\"Y\"=dword:00000001\n");
  dir_.Write("Brenmoor/Sentrel/values.reg", "\"Language\"=\"New.lng\"\n");
  EXPECT_EQ(Load().Language, "New.lng");
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Corvane/Sentrel"));
  // Another program's key keeps the parent in place.
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Corvane/Other/values.reg"));
}

TEST_F(OptionsTest, LegacySettingsStayUntilTheNewPlaceTakesThem) {
  dir_.Write("Corvane/Sentrel/values.reg", "\"Language\"=\"Old.lng\"\n");
  dir_.Write("Brenmoor", "a file where the new key's folder belongs");
  EXPECT_EQ(Load().Language, "Old.lng");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Corvane/Sentrel/values.reg"));

  std::filesystem::remove(dir_.path() / "Brenmoor");
  EXPECT_EQ(Load().Language, "Old.lng");
  EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Brenmoor/Sentrel/values.reg"));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "Corvane"));
}

TEST(SettingValuesTest, ParsesTextsWithEscapesAndDwords) {
  auto v = ParseSettingValues("\"A\"=\"x\\\"y\\\\z\"\r\n\"b\"=dword:FFFFFFFF\n\"c\"=dword:123456789\n\"d\"=\"open\n");
  ASSERT_EQ(v.count("A"), 1u);
  EXPECT_EQ(v["A"].text, "x\"y\\z");
  EXPECT_EQ(v["B"].dword, 0xFFFFFFFFu);
  EXPECT_EQ(v.count("C"), 0u);
  EXPECT_EQ(v.count("D"), 0u);
  // A byte-order mark, as editors on Windows write it, hides nothing.
  EXPECT_EQ(ParseSettingValues("\xEF\xBB\xBF\"Language\"=\"x\"\n").count("LANGUAGE"), 1u);
}

}  // namespace
}  // namespace sentrel

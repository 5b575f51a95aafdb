#include "platform/settings_store.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "lang/options.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// A registry branch of the test's own under HKEY_CURRENT_USER, gone after.
class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : base_("Software\\SentrelTest-" + std::to_string(std::random_device()())) {}
  ~RegistryTest() override { RegDeleteTreeW(HKEY_CURRENT_USER, Widen(base_).c_str()); }

  void SetDword(const std::string& key, const std::string& name, DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, Widen(base_ + "\\" + key).c_str(), Widen(name).c_str(),
                    REG_DWORD, &value, sizeof value);
  }
  void SetText(const std::string& key, const std::string& name, const std::string& value) {
    const std::wstring w = Widen(value);
    RegSetKeyValueW(HKEY_CURRENT_USER, Widen(base_ + "\\" + key).c_str(), Widen(name).c_str(),
                    REG_SZ, w.c_str(), static_cast<DWORD>((w.size() + 1) * sizeof(wchar_t)));
  }

  std::string base_;
};

TEST_F(RegistryTest, LegacySettingsMoveToTheirNewKey) {
  SetDword("Corvane\\Sentrel", "Interval", 3);
  SetText("Corvane\\Sentrel", "language", "Fran\xc3\xa7" "ais.lng");
  SetDword("Corvane\\Sentrel\\Sub", "Kept", 1);
  auto store = OpenRegistrySettingsStore(base_);
  Options options;
  LoadOptions(*store, options);
  EXPECT_EQ(options.Interval, 3);
  EXPECT_EQ(options.Language, "Fran\xc3\xa7" "ais.lng");
  EXPECT_TRUE(store->KeyExists("Brenmoor/Sentrel/Sub"));
  EXPECT_FALSE(store->KeyExists("Corvane"));  // emptied, so removed
}

TEST_F(RegistryTest, ValuesOfTheWrongTypeKeepTheirDefaults) {
  SetText("Brenmoor\\Sentrel", "Interval", "5");
  SetDword("Brenmoor\\Sentrel", "Language", 7);
  SetDword("Corvane\\Other", "Stays", 1);
  auto store = OpenRegistrySettingsStore(base_);
  Options options;
  LoadOptions(*store, options);
  EXPECT_EQ(options.Interval, 1);
  EXPECT_EQ(options.Language, "English.lng");
  EXPECT_TRUE(store->KeyExists("Corvane/Other"));  // another program's key
}

}  // namespace
}  // namespace sentrel

#include <gtest/gtest.h>

#include <filesystem>

#include "lang/options.h"
#include "platform/settings_store.h"
#include "private_mounts.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// The legacy settings on a small file system that has no room for their
// copy: they stay, whole, and nothing half copied is left to pass for the
// new ones at the next start.
TEST(SettingsStoreTest, FullDiskKeepsTheLegacySettings) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_TEST_SETTINGS_FULL");
  TempDir dir;
  ScopedMount small;
  ASSERT_TRUE(small.Tmpfs(dir.str(), "size=64k"));
  const std::string legacy = "\"Language\"=\"Old.lng\"\n\"Pad\"=\"" + std::string(40000, 'p') + "\"\n";
  dir.Write("Corvane/Sentrel/values.reg", legacy);

  Options options;
  LoadOptions(*OpenSettingsStoreAt(dir.str()), options);
  EXPECT_EQ(options.Language, "Old.lng");
  EXPECT_EQ(ReadFileText(dir.Sub("Corvane/Sentrel/values.reg")), legacy);
  EXPECT_FALSE(fs::exists(dir.path() / "Brenmoor/Sentrel"));
  EXPECT_TRUE(fs::is_empty(dir.path() / "Brenmoor"));
}

}  // namespace
}  // namespace sentrel

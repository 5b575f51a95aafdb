#include "shell/search_paths.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace sentrel {
namespace {

class SearchPathsTest : public ::testing::Test {
 protected:
  SearchPathsTest() {
    places_.program = dir_.MakeDir("bin");
    places_.user = dir_.MakeDir("home/.config/sentrel");
    places_.system = dir_.MakeDir("etc/sentrel");
    places_.shared = dir_.MakeDir("share/sentrel");
  }
  TempDir dir_;
  SearchPlaces places_;
};

TEST_F(SearchPathsTest, DefaultConfigurationIsTheFirstThatExistsBesideUserSystemShared) {
  EXPECT_EQ(DefaultConfigCandidates(places_),
            (std::vector<std::string>{dir_.Sub("bin/default.mon"),
                                      dir_.Sub("home/.config/sentrel/default.mon"),
                                      dir_.Sub("etc/sentrel/default.mon"),
                                      dir_.Sub("share/sentrel/default.mon")}));
  // Nothing there: the place an unpacked build uses, for the message.
  EXPECT_EQ(ChooseDefaultConfig(places_), dir_.Sub("bin/default.mon"));
  for (const char* rel : {"share/sentrel/default.mon", "etc/sentrel/default.mon",
                          "home/.config/sentrel/default.mon", "bin/default.mon"}) {
    dir_.Write(rel, "");
    EXPECT_EQ(ChooseDefaultConfig(places_), dir_.Sub(rel));
  }
}

TEST_F(SearchPathsTest, FoldersNamedLikeTheConfigurationAndUnknownPlacesAreSkipped) {
  dir_.MakeDir("home/.config/sentrel/default.mon");
  dir_.Write("share/sentrel/default.mon", "");
  places_.system.clear();
  EXPECT_EQ(DefaultConfigCandidates(places_).size(), 3u);
  EXPECT_EQ(ChooseDefaultConfig(places_), dir_.Sub("share/sentrel/default.mon"));
  // Without the program's own path, a bare name in the current folder, as before.
  places_.program.clear();
  EXPECT_EQ(DefaultConfigCandidates(places_).front(), "default.mon");
}

TEST_F(SearchPathsTest, LanguageFileComesFromTheFirstLangFolderHoldingIt) {
  EXPECT_EQ(ChooseLangFolder(places_, "English.lng"), dir_.Sub("bin/Lang") + "/");
  // Named in any case of letters, as settings written on Windows do.
  dir_.Write("share/sentrel/Lang/english.lng", "");
  EXPECT_EQ(ChooseLangFolder(places_, "English.lng"), dir_.Sub("share/sentrel/Lang") + "/");
  EXPECT_EQ(ChooseLangFolder(places_, "Other.lng"), dir_.Sub("bin/Lang") + "/");
  dir_.Write("bin/Lang/English.lng", "");
  EXPECT_EQ(ChooseLangFolder(places_, "English.lng"), dir_.Sub("bin/Lang") + "/");
}

}  // namespace
}  // namespace sentrel

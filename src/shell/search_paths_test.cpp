#include "shell/search_paths.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "child_process.h"
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
  dir_.Write("share/sentrel/Lang/English.lng", "");
  EXPECT_EQ(ChooseLangFolder(places_, "English.lng"), dir_.Sub("share/sentrel/Lang") + "/");
  EXPECT_EQ(ChooseLangFolder(places_, "Other.lng"), dir_.Sub("bin/Lang") + "/");
  dir_.Write("bin/Lang/English.lng", "");
  EXPECT_EQ(ChooseLangFolder(places_, "English.lng"), dir_.Sub("bin/Lang") + "/");
}

// The real program installed under a prefix of its own and started, without
// an argument, from another folder.
class InstalledProgramTest : public ::testing::Test {
 protected:
  InstalledProgramTest() {
    std::filesystem::create_directories(prefix_.Path("bin"));
    std::filesystem::copy_file(SENTREL_BINARY, program_);
    prefix_.Write("share/sentrel/default.mon", "");
    env_ = {"XDG_CONFIG_HOME=" + home_.str(), "LC_ALL=C"};
  }
  // The output up to the started message, after which the run is stopped.
  std::string Run(const std::string& started = "Press 'X' to exit.\n") {
    ChildProcess p({program_}, elsewhere_.str(), env_);
    p.WaitForOutput(started);
    p.Signal(SIGTERM);
    p.WaitExit();
    return p.output();
  }
  TempDir prefix_, home_, elsewhere_;
  const std::string program_ = prefix_.Sub("bin/sentrel");
  std::vector<std::string> env_;
};

TEST_F(InstalledProgramTest, LoadsTheUsersConfigurationElseTheInstalledOne) {
  if (Exists("/etc/sentrel/default.mon")) GTEST_SKIP() << "this machine has its own default";
  EXPECT_NE(Run().find("\"" + prefix_.Sub("share/sentrel/default.mon") + "\" is loaded."),
            std::string::npos);
  const std::string mine = home_.Write("sentrel/default.mon", "");
  EXPECT_NE(Run().find("\"" + mine + "\" is loaded."), std::string::npos);
}

TEST_F(InstalledProgramTest, TextsComeFromTheInstalledLanguageFileUnlessOneIsBeside) {
  prefix_.Write("share/sentrel/Lang/English.lng", "[Strings]\nlngStarted=Shared text.\n");
  EXPECT_NE(Run("Shared text.\n").find("\nShared text.\n"), std::string::npos);
  prefix_.Write("bin/Lang/English.lng", "[Strings]\nlngStarted=Own text.\n");
  EXPECT_NE(Run("Own text.\n").find("\nOwn text.\n"), std::string::npos);
}

}  // namespace
}  // namespace sentrel

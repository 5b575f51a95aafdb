// The installed layout on Linux: a tree under a prefix of its own, the
// program in bin/, its shared files in share/sentrel/.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>

#include "child_process.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// The real program, copied under a prefix of its own and started without an
// argument from another folder.
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

TEST_F(InstalledProgramTest, HelpNamesThePlacesInTheOrderTheStartTriesThem) {
  ChildProcess p({program_, "--help"}, elsewhere_.str(), env_);
  EXPECT_EQ(p.WaitExit(), 0);
  const std::string places = "  " + prefix_.Sub("bin/default.mon") + "\n  " +
                             home_.Sub("sentrel/default.mon") + "\n  /etc/sentrel/default.mon\n  " +
                             prefix_.Sub("share/sentrel/default.mon") + "\n";
  EXPECT_NE(p.output().find(":\n" + places + "\n"), std::string::npos) << p.output();
}

TEST_F(InstalledProgramTest, TextsComeFromTheInstalledLanguageFileUnlessOneIsBeside) {
  prefix_.Write("share/sentrel/Lang/English.lng", "[Strings]\nlngStarted=Shared text.\n");
  EXPECT_NE(Run("Shared text.\n").find("\nShared text.\n"), std::string::npos);
  prefix_.Write("bin/Lang/English.lng", "[Strings]\nlngStarted=Own text.\n");
  EXPECT_NE(Run("Own text.\n").find("\nOwn text.\n"), std::string::npos);
}

}  // namespace
}  // namespace sentrel

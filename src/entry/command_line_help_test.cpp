// The usage as a user reads it in a terminal of 80 columns.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "sentrel_run.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

// Options are added often; a line that wraps in a standard terminal breaks
// the table of options for everyone. The default configurations' places are
// the exception: they are where this machine keeps them.
TEST(CommandLineTest, EveryLineOfTheHelpFitsEightyColumns) {
  TempDir dir, home;
  SentrelRun run = RunSentrel({"--help"}, dir.str(), home.str());
  ASSERT_EQ(run.code, 0);
  std::istringstream lines(run.out);
  std::string line;
  int counted = 0;
  while (std::getline(lines, line)) {
    const size_t text = line.find_first_not_of(' ');
    const bool place = text != std::string::npos && line.find(' ', text) == std::string::npos &&
                       line.find("default.mon") != std::string::npos;
    if (place) continue;
    ++counted;
    EXPECT_LE(line.size(), 80u) << line;
  }
  EXPECT_GT(counted, 5);
}

}  // namespace
}  // namespace sentrel

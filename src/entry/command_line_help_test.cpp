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
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string name = "default.mon";
    const bool place = line.rfind("  ", 0) == 0 && line.size() >= name.size() &&
                       line.compare(line.size() - name.size(), name.size(), name) == 0;
    if (place) continue;
    ++counted;
    EXPECT_LE(line.size(), 80u) << line;
  }
  EXPECT_GT(counted, 5);
}

}  // namespace
}  // namespace sentrel

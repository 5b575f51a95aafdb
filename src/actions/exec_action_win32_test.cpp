#include "actions/exec_action.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exec_action_fixture.h"

namespace sentrel {
namespace {

// Windows takes a command line of 32,767 characters at most: a batch longer
// than that is started in as many parts as it needs, every name whole, and
// a name that alone cannot fit is said and left out.
TEST_F(ExecActionTest, ABatchTooLongForOneCommandLineIsSplitNeverCut) {
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back("C:\\data\\" + std::to_string(i) + std::string(180, 'n'));
  }
  const std::string huge = "C:\\data\\" + std::string(40000, 'h');
  names.insert(names.begin() + 150, huge);
  size_t starts = 0;
  std::string errors;
  const std::vector<std::string> got = RunBatch(names, starts, errors);

  EXPECT_GE(starts, 2u);
  names.erase(names.begin() + 150);
  EXPECT_EQ(got, names);
  EXPECT_NE(errors.find(huge.substr(0, 40)), std::string::npos) << errors;
  EXPECT_EQ(errors.find(names[0]), std::string::npos);
}

}  // namespace
}  // namespace sentrel

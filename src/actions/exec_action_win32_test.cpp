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
  CapturingSink errors;
  services_.errors = &errors;
  Configure({"Command=" + kRecordArgs, "Params=%(%File %)", "Wait=1"});
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back("C:\\data\\" + std::to_string(i) + std::string(180, 'n'));
  }
  const std::string huge = "C:\\data\\" + std::string(40000, 'h');
  names.insert(names.begin() + 150, huge);
  FileList files;
  for (const std::string& n : names) files.emplace_back(n, 0.0, 1, kStateAdded);
  action_.Run(files, ctx_);

  const std::vector<Start> starts = Starts();
  EXPECT_GE(starts.size(), 2u);
  std::vector<std::string> got;
  for (const Start& s : starts) got.insert(got.end(), s.begin(), s.end());
  names.erase(names.begin() + 150);
  EXPECT_EQ(got, names);
  EXPECT_NE(errors.Text().find(huge.substr(0, 40)), std::string::npos) << errors.Text();
  EXPECT_EQ(errors.Text().find(names[0]), std::string::npos);
}

}  // namespace
}  // namespace sentrel

#ifndef SENTREL_TESTS_EXEC_ACTION_FIXTURE_H_
#define SENTREL_TESTS_EXEC_ACTION_FIXTURE_H_

// Test support: an execute action whose program is record_args, which
// writes the arguments of each start to a file of the test.

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <string>
#include <vector>

#include "actions/exec_action.h"
#include "environment.h"
#include "platform/process.h"
#include "record_args.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {

inline const std::string kHelperDir = SENTREL_TEST_HELPER_DIR;
inline const std::string kRecordArgs = RecordArgsProgram();

using Start = std::vector<std::string>;

class ExecActionTest : public ::testing::Test {
 protected:
  ExecActionTest() : record_file_(dir_.Sub("args.txt")), ctx_(services_, stop_, stop_wakeup_) {
    SetEnvironment("RECORD_ARGS_FILE", record_file_);
  }
  ~ExecActionTest() override {
    UnsetEnvironment("RECORD_ARGS_FILE");
    // Children started without a wait must be gone before the folder is.
    WaitUntil([] { return ChildrenAwaitingReap() == 0; });
  }

  void Configure(std::initializer_list<std::string> lines) {
    for (const std::string& line : lines) {
      ASSERT_TRUE(OfferLine(action_.Params(), line + "\n")) << line;
    }
  }
  FileList Files(std::initializer_list<std::string> names) {
    FileList files;
    for (const std::string& n : names) files.emplace_back(n, 0.0, 1, kStateAdded);
    return files;
  }
  std::vector<Start> Starts() { return RecordedStarts(record_file_); }

  TempDir dir_;
  std::string record_file_;
  Services services_;
  std::atomic<bool> stop_{false};
  Wakeup stop_wakeup_;
  RunContext ctx_;
  ExecAction action_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_EXEC_ACTION_FIXTURE_H_

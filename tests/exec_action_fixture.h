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
  // Starts the recorder once over `names` as one batch ("%(%File %)"), and
  // gives every argument that arrived, in order over all the starts; `starts`
  // gets how many starts there were and `errors` what the action said.
  std::vector<std::string> RunBatch(const std::vector<std::string>& names, size_t& starts,
                                    std::string& errors) {
    CapturingSink said;
    MessageSink* const before = services_.errors;
    services_.errors = &said;
    Configure({"Command=" + kRecordArgs, "Params=%(%File %)", "Wait=1"});
    FileList files;
    for (const std::string& n : names) files.emplace_back(n, 0.0, 1, kStateAdded);
    action_.Run(files, ctx_);
    services_.errors = before;
    errors = said.Text();
    std::vector<std::string> got;
    const std::vector<Start> recorded = Starts();
    starts = recorded.size();
    for (const Start& s : recorded) got.insert(got.end(), s.begin(), s.end());
    return got;
  }

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

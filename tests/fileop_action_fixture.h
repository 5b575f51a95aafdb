#ifndef SENTREL_TESTS_FILEOP_ACTION_FIXTURE_H_
#define SENTREL_TESTS_FILEOP_ACTION_FIXTURE_H_

// Test support: file operation actions over files of a temporary folder.

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "actions/fileop_action.h"
#include "temp_dir.h"

namespace sentrel {

class FileOpActionTest : public ::testing::Test {
 protected:
  FileOpActionTest() { services.messages = &sink; }

  std::unique_ptr<Action> Make(const std::vector<std::string>& lines,
                               const std::string& display = "") {
    auto action = CreateAction(kFileOpAction);
    auto* op = static_cast<FileOpAction*>(action.get());
    op->SetTrashDir(dir.Sub("Trash"));
    op->SetDisplay(display);
    for (const std::string& line : lines) OfferLine(action->Params(), line + "\n");
    return action;
  }

  FileList Files(std::initializer_list<const char*> names) {
    FileList files;
    for (const char* n : names) files.emplace_back(dir.Write(n, n), 0.0, 1, kStateAdded);
    return files;
  }

  TempDir dir;
  CapturingSink sink;
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx{services, stop, stop_wakeup};
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_FILEOP_ACTION_FIXTURE_H_

#ifndef SENTREL_TESTS_FILE_OPERATION_FIXTURE_H_
#define SENTREL_TESTS_FILE_OPERATION_FIXTURE_H_

// Test support: file operations on a temporary tree, with a confirmer that
// answers as the test says.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "actions/file_operation.h"
#include "shell/message_sink.h"
#include "temp_dir.h"

namespace sentrel {

class ScriptedConfirmer final : public Confirmer {
 public:
  explicit ScriptedConfirmer(bool answer) : answer_(answer) {}
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    return answer_;
  }
  std::vector<std::string> questions;

 private:
  bool answer_;
};

class FileOperationTest : public ::testing::Test {
 protected:
  FileOpSummary Do(int op, std::vector<std::string> sources, std::vector<std::string> dests,
                   uint16_t flags = kFofNoConfirmation | kFofNoConfirmMkdir,
                   Confirmer* confirmer = nullptr, FileOpSteps* steps = nullptr) {
    FileOpRequest r;
    r.op = op;
    r.sources.assign(sources.begin(), sources.end());
    r.destinations = std::move(dests);
    r.flags = flags;
    FileOpEnvironment env;
    env.messages = &sink;
    env.confirmer = confirmer;
    env.trash_dir = trash_dir;
    env.steps = steps;
    return PerformFileOperation(r, env);
  }

  // No temporary copy may be left anywhere under `dir`.
  static bool NoLeftovers(const std::string& dir) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
      if (e.path().filename().string().find(".sentrel-") != std::string::npos) return false;
    }
    return true;
  }

  TempDir tree;
  CapturingSink sink;
  std::string trash_dir = tree.Sub("Trash");
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_FILE_OPERATION_FIXTURE_H_

#ifndef SENTREL_TESTS_RECORD_ARGS_H_
#define SENTREL_TESTS_RECORD_ARGS_H_

#include <fstream>
#include <string>
#include <vector>

#include "platform/file_ops.h"

namespace sentrel {

// The helper program that appends its arguments to $RECORD_ARGS_FILE, by its
// absolute path as this system names it (a program started in another
// folder finds it too).
inline std::string RecordArgsProgram() {
  return AbsolutePath(std::string(SENTREL_TEST_HELPER_DIR) + "/record_args");
}

// What record_args wrote to `file`: the arguments of each start, in order.
inline std::vector<std::vector<std::string>> RecordedStarts(const std::string& file) {
  std::vector<std::vector<std::string>> starts(1);
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line == "--") {
      starts.emplace_back();
    } else {
      starts.back().push_back(line);
    }
  }
  starts.pop_back();
  return starts;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_RECORD_ARGS_H_

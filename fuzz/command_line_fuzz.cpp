// The command line: the arguments are the input cut at zero bytes. Whatever
// comes, the result is one of the modes, and a usage error says what.
#include <cstdint>
#include <string>
#include <vector>

#include "entry/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args = {"sentrel"};
  std::string arg;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(static_cast<char>(data[i]));
    }
  }
  if (size > 0) args.push_back(arg);
  const sentrel::CommandLine cl = sentrel::ParseCommandLine(args);
  if (cl.mode == sentrel::CommandLine::Mode::kUsageError && cl.error.empty()) __builtin_trap();
  return 0;
}

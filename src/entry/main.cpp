#include <string>
#include <vector>

#include "entry/app.h"
#include "platform/console_input.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  int code = sentrel::RunConsoleProgram(args);
  // Items still finishing their last action must not meet destroyed objects:
  // the process ends here without running static destructors.
  sentrel::ExitProcessNow(code);
}

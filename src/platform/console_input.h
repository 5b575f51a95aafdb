#ifndef SENTREL_PLATFORM_CONSOLE_INPUT_H_
#define SENTREL_PLATFORM_CONSOLE_INPUT_H_

#include <memory>

namespace sentrel {

// Single key presses from the console, and the stop signals that end the
// program like the exit key does.
class ConsoleInput {
 public:
  static constexpr int kStop = -1;  // SIGINT, SIGTERM, SIGHUP or SIGQUIT arrived

  virtual ~ConsoleInput() = default;
  // Blocks until a key is pressed (returns its byte, 0..255) or a stop signal
  // arrives (returns kStop). When the input is not a terminal its bytes are
  // the keys; once it ends, only a stop signal returns.
  virtual int WaitKey() = 0;
};

// Takes over standard input for key reading: a terminal is switched to
// single-key, no-echo mode until the returned object is destroyed (and on
// every other way out of the process). Installs the stop-signal handlers.
std::unique_ptr<ConsoleInput> OpenConsoleInput();

// Ends the process at once with `code` after flushing standard output, without
// running static destructors that item threads may still depend on.
[[noreturn]] void ExitProcessNow(int code);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_CONSOLE_INPUT_H_

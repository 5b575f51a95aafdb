#ifndef SENTREL_PLATFORM_CONSOLE_INPUT_H_
#define SENTREL_PLATFORM_CONSOLE_INPUT_H_

#include <memory>
#include <string>
#include <vector>

namespace sentrel {

// Single key presses from the console, and the stop signals that end the
// program like the exit key does.
class ConsoleInput {
 public:
  // SIGINT, SIGTERM, SIGHUP or SIGQUIT arrived; on Windows Ctrl-C,
  // Ctrl-Break, the console window closed, log-off or shut-down.
  static constexpr int kStop = -1;

  virtual ~ConsoleInput() = default;
  // Blocks until a key is pressed (returns its byte, 0..255) or a stop signal
  // arrives (returns kStop). When the input is not a terminal its bytes are
  // the keys; once it ends, only a stop signal returns.
  virtual int WaitKey() = 0;
};

// Takes over standard input for key reading: a terminal is switched to
// single-key, no-echo mode until the returned object is destroyed (and on
// every other way out of the process); a Windows console gives its key
// presses. Installs the stop-signal handlers.
std::unique_ptr<ConsoleInput> OpenConsoleInput();

// How a user stops the program besides the exit key, as the end of the
// sentence "Monitors ... until you press x": the system's own ways.
std::string StopWaysText();

// The program's arguments in UTF-8 (on Windows taken from the wide command
// line, whatever the system's code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Ends the process at once with `code` after flushing standard output, without
// running static destructors that item threads may still depend on.
[[noreturn]] void ExitProcessNow(int code);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_CONSOLE_INPUT_H_

#ifndef SENTREL_PLATFORM_CONSOLE_INPUT_H_
#define SENTREL_PLATFORM_CONSOLE_INPUT_H_

#include <memory>
#include <string>
#include <vector>

namespace sentrel {

// Single key presses from the console, and the requests from outside
// (process_requests.h) that the main thread answers between them.
class ConsoleInput {
 public:
  // ProcessRequest::kStop: ends the program like the exit key does.
  static constexpr int kStop = -1;
  // ProcessRequest::kCheckNow.
  static constexpr int kCheckNow = -2;
  // ProcessRequest::kReload.
  static constexpr int kReload = -3;

  virtual ~ConsoleInput() = default;
  // Blocks until a key is pressed (returns its byte, 0..255) or a request
  // arrives (returns kStop, kCheckNow or kReload). When the input is not a terminal
  // its bytes are the keys; once it ends, only requests return.
  virtual int WaitKey() = 0;
};

// Takes over standard input for key reading: a terminal is switched to
// single-key, no-echo mode until the returned object is destroyed (and on
// every other way out of the process); a Windows console gives its key
// presses. Requests reach it once ListenForProcessRequests has run.
std::unique_ptr<ConsoleInput> OpenConsoleInput();

// How a user stops the program besides the exit key, as the end of the
// sentence "Monitors ... until you press x": the system's own ways.
std::string StopWaysText();
// When the configuration is read again, in the words of this system:
// "when it is saved, ...".
std::string ReloadWaysText();

// The program's arguments in UTF-8 (on Windows taken from the wide command
// line, whatever the system's code page).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Ends the process at once with `code`, without running static destructors
// that item threads may still depend on, and without waiting for output that
// a stream does not take (a pipe nobody reads): that is dropped.
[[noreturn]] void ExitProcessNow(int code);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_CONSOLE_INPUT_H_

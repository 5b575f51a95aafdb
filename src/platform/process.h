#ifndef SENTREL_PLATFORM_PROCESS_H_
#define SENTREL_PLATFORM_PROCESS_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// How a started program is set up.
struct ProcessOptions {
  // Working directory of the program; empty keeps ours.
  std::string directory;
  // true: standard input, output and error are the null device; false: the
  // program shares our console.
  bool null_streams = false;
};

// A program started by StartProcess. A child that nobody waits for to the end
// (the handle is dropped, or a wait is given up) is handed to a background
// reaper, so no finished child stays behind as a zombie. Move-only.
class SpawnedProcess {
 public:
  enum class WaitResult {
    kExited,    // the program has ended; exit_status() tells how
    kStopped,   // the stop request turned true first
    kTimedOut,  // the time limit passed first
    kNoProcess  // nothing was started (or it was already waited for)
  };

  SpawnedProcess() = default;
  SpawnedProcess(SpawnedProcess&& other) noexcept;
  SpawnedProcess& operator=(SpawnedProcess&& other) noexcept;
  SpawnedProcess(const SpawnedProcess&) = delete;
  SpawnedProcess& operator=(const SpawnedProcess&) = delete;
  ~SpawnedProcess();

  // Whether a program was started and has not been waited for to its end.
  bool valid() const { return pid_ > 0; }
  int pid() const { return pid_; }

  // Waits until the program ends. `stop_requested`, when given, is asked at
  // least every 50 ms and ends the wait early when it answers true (the
  // program goes on running). `timeout_ms` < 0 means no time limit.
  WaitResult Wait(const std::function<bool()>& stop_requested = nullptr,
                  int timeout_ms = -1);
  // Whether the program has ended, without blocking (it is reaped if so).
  bool HasExited();
  // The exit code of an ended program, 128 + signal number when a signal
  // ended it, -1 while unknown.
  int exit_status() const { return exit_status_; }

  // Asks the program to end (SIGTERM), or ends it at once (SIGKILL). Does
  // nothing once it has been waited for.
  void Terminate(bool forced = false);

  // Gives the program up to the reaper; the handle becomes empty.
  void Detach();

 private:
  friend SpawnedProcess StartProcess(const std::vector<std::string>&, const ProcessOptions&,
                                   int*);
  SpawnedProcess(int pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  void Reaped(int status);

  int pid_ = -1;
  int pidfd_ = -1;  // a descriptor that becomes readable when the child ends
  int exit_status_ = -1;
};

// Starts argv[0] with the arguments argv[1..], never through a shell. A name
// without "/" is looked up in PATH. On failure returns an empty handle and,
// when `error` is given, stores the system's error number there. The program
// gets our environment, default signal handling, and none of our descriptors
// besides the three standard streams.
SpawnedProcess StartProcess(const std::vector<std::string>& argv,
                          const ProcessOptions& options = ProcessOptions(),
                          int* error = nullptr);

// The system's words for an error number that StartProcess stored: why a
// program could not be started.
std::string ErrorText(int error);

// Whether `name` is a program StartProcess can run: a name with "/" that is
// an executable regular file (a relative one taken from `directory`, or from
// our current directory when that is empty), or a name without "/" found as
// such a file in PATH.
bool IsExecutableProgram(const std::string& name, const std::string& directory = "");

// Splits a parameter text into arguments with the quoting rules of the POSIX
// shell and nothing else: blanks (space, tab, line feed) separate arguments;
// '...' is literal; "..." is literal except that a backslash escapes $, `,
// ", \ and a line break; outside quotes a backslash makes the next character
// literal. Nothing is expanded: $, `, *, ~, ;, | and & are ordinary
// characters. An unclosed quote runs to the end of the text.
std::vector<std::string> SplitArguments(std::string_view text);

// The same, where characters whose `literal` flag is set are ordinary
// characters of the current argument whatever they are: they never separate,
// quote or escape. Text that came from outside (a file name) is marked so,
// and can then never break out of the argument the text around it made.
// `literal` is as long as `text` (missing flags count as false).
std::vector<std::string> SplitArguments(std::string_view text,
                                        const std::vector<bool>& literal);

// Replaces every "%NAME%" whose NAME is set in the environment by its value.
// Other text, and a reference to a variable that is not set, stay as written.
std::string ExpandEnvironmentReferences(std::string_view text);

// How many started programs the background reaper still waits for.
int ChildrenAwaitingReap();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_H_

#ifndef SENTREL_PLATFORM_PROCESS_H_
#define SENTREL_PLATFORM_PROCESS_H_

#include <cstdint>
#include <functional>
#include <optional>
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
  // How a program's window is shown where programs have windows: 0 normal,
  // 1 minimised, 2 maximised, 3 hidden.
  int show = 0;
};

// A program started by StartProcess. A child that nobody waits for to the end
// (the handle is dropped, or a wait is given up) is handed to a background
// reaper where the system needs one, so no finished child stays behind as a
// zombie. Move-only.
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

  // Asks the program to end (SIGTERM; on Windows the close request to its
  // windows, and an end at once for a program without any), or ends it at
  // once (SIGKILL, TerminateProcess). Does nothing once it has been waited
  // for.
  void Terminate(bool forced = false);

  // Gives the program up to the reaper; the handle becomes empty.
  void Detach();

 private:
  friend class ProcessStarter;  // the platform side's maker of handles
  SpawnedProcess(int pid, intptr_t native) : pid_(pid), native_(native) {}
  void Reaped(int status);

  int pid_ = -1;
  // The system's handle on the child: a descriptor that becomes readable
  // when it ends (Linux), the process handle (Windows); -1 for none.
  intptr_t native_ = -1;
  int exit_status_ = -1;
};

// Starts argv[0] with the arguments argv[1..], never through a shell. A name
// without a separator is looked up in PATH (on Windows as the system looks
// up programs, ".exe" added when the name has no extension); a relative name
// with one is taken from the options' directory. On failure returns an empty
// handle and, when `error` is given, stores the system's error number there.
// The program gets our environment, default signal handling, and none of our
// descriptors or handles besides the three standard streams. On Windows the
// arguments are quoted into one command line by the rules its programs read
// them with, so that each arrives as it is.
SpawnedProcess StartProcess(const std::vector<std::string>& argv,
                          const ProcessOptions& options = ProcessOptions(),
                          int* error = nullptr);

// Whether StartProcess can hand `argv` to a program whole: Windows takes a
// command line of at most 32,767 characters; Linux limits one argument to
// 128 KiB and all of them, with the environment, to its ARG_MAX.
bool ArgumentsFit(const std::vector<std::string>& argv);

// Opens a document, a folder or an address with the program the desktop
// associates with it (xdg-open; on Windows the shell's "open"). The handle
// holds the program started for it, when the system says which.
SpawnedProcess OpenWithDesktop(const std::string& target,
                               const ProcessOptions& options = ProcessOptions(),
                               int* error = nullptr);

// The system's words for an error number that StartProcess or
// OpenWithDesktop stored: why a program could not be started.
std::string ErrorText(int error);

// How a program that was waited for ended, from its exit_status(): "exited
// with status 3"; on Linux a status above 128 as a shell reads it, "was
// ended by signal 15 (Terminated)"; on Windows a large code also in hex.
std::string ExitStatusText(int status);
// Whether `status` is how a program ends when it is stopped as this program
// is stopped (SIGINT, SIGTERM, SIGHUP, SIGQUIT on Linux; Ctrl-C or
// Ctrl-Break on Windows).
// A stop sent to the whole process group ends our program too, a moment
// later: who waited for the program should give that stop time to arrive.
bool EndedByStopSignal(int status);

// Whether `name` is a program StartProcess can run: a name with a separator
// that is an executable regular file (a relative one taken from `directory`,
// or from our current directory when that is empty), or a name without one
// found as such a file in PATH. On Windows a program is an ".exe" or ".com"
// file; anything else (a batch file too) is a document.
bool IsExecutableProgram(const std::string& name, const std::string& directory = "");
// The program file IsExecutableProgram finds for `name`; empty for none.
std::string FindProgram(const std::string& name, const std::string& directory = "");

// Splits a parameter text into arguments with this platform's quoting rules
// and nothing else. Linux: the rules of the POSIX shell: blanks (space, tab,
// line feed) separate arguments; '...' is literal; "..." is literal except
// that a backslash escapes $, `, ", \ and a line break; outside quotes a
// backslash makes the next character literal. Nothing is expanded: $, `, *,
// ~, ;, | and & are ordinary characters. Windows: the rules its programs read
// their command line with: blanks separate, "..." groups (with "" inside
// standing for one quote), backslashes are ordinary characters except before
// a quote, where each pair gives one backslash and an odd one makes the quote
// literal. An unclosed quote runs to the end of the text.
std::vector<std::string> SplitArguments(std::string_view text);

// The same, where characters whose `literal` flag is set are ordinary
// characters of the current argument whatever they are: they never separate,
// quote or escape. Text that came from outside (a file name) is marked so,
// and can then never break out of the argument the text around it made.
// `literal` is as long as `text` (missing flags count as false).
std::vector<std::string> SplitArguments(std::string_view text,
                                        const std::vector<bool>& literal);

// The value of the environment variable `name` (on Windows its name ignores
// case); nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const std::string& name);

// Replaces every "%NAME%" whose NAME is set in the environment by its value.
// Other text, and a reference to a variable that is not set, stay as written.
std::string ExpandEnvironmentReferences(std::string_view text);

// How many started programs the background reaper still waits for (none
// where the system needs no reaper).
int ChildrenAwaitingReap();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_H_

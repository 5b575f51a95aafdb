#ifndef SENTREL_TESTS_CHILD_PROCESS_H_
#define SENTREL_TESTS_CHILD_PROCESS_H_

// Test support: runs a program as a real child process with pipes on its
// standard input and output (and, when asked, a pipe of its own for its
// standard error), as a user's shell would.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sentrel {

class ChildProcess {
 public:
  enum class Errors { kWithOutput, kApart };

  // Starts `argv` in `cwd` (when not empty) with `extra_env` ("NAME=value")
  // set over this process's environment. Its standard error goes into
  // output() too, or, kApart, into errors().
  ChildProcess(const std::vector<std::string>& argv, const std::string& cwd = "",
               const std::vector<std::string>& extra_env = {},
               Errors errors = Errors::kWithOutput);
  // Ends the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  void Send(const std::string& text);
  void CloseInput();
  // Linux: sends the signal `sig`.
  void Signal(int sig);
  // Linux: sends `sig` to every process of the child's process group, as a
  // terminal's Ctrl-C does; the child must lead one (started by setsid).
  void SignalGroup(int sig);

  // Reads output until `needle` appears at or after `from` (true) or `ms`
  // pass (false).
  bool WaitForOutput(const std::string& needle, int ms = 20000, size_t from = 0);
  // Reads both streams until `done` holds (true) or `ms` pass (false).
  bool ReadUntil(const std::function<bool()>& done, int ms = 20000);
  // Waits up to `ms` for the child to end; its exit code, or -1 if it did not
  // end (or ended by a signal).
  int WaitExit(int ms = 20000);
  // Whether the child is still running.
  bool Running();
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }

  struct Impl;

 private:
  // Reads what is there on the open pipes, waiting up to `ms`; false when
  // nothing came (an end of a pipe counts as something).
  bool ReadSome(int ms);
  // Whether a pipe is still open to read.
  bool Reading() const;

  std::unique_ptr<Impl> impl_;
  std::string output_, errors_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_CHILD_PROCESS_H_

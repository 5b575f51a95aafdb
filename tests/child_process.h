#ifndef SENTREL_TESTS_CHILD_PROCESS_H_
#define SENTREL_TESTS_CHILD_PROCESS_H_

// Test support: runs a program as a real child process with pipes on its
// standard input and output, as a user's shell would.

#include <memory>
#include <string>
#include <vector>

namespace sentrel {

class ChildProcess {
 public:
  // Starts `argv` in `cwd` (when not empty) with `extra_env` ("NAME=value")
  // set over this process's environment. Its standard error goes where its
  // output goes.
  ChildProcess(const std::vector<std::string>& argv, const std::string& cwd = "",
               const std::vector<std::string>& extra_env = {});
  // Ends the child if it still runs.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const;
  void Send(const std::string& text);
  void CloseInput();
  // Linux: sends the signal `sig`.
  void Signal(int sig);

  // Reads output until `needle` appears at or after `from` (true) or `ms`
  // pass (false).
  bool WaitForOutput(const std::string& needle, int ms = 20000, size_t from = 0);
  // Waits up to `ms` for the child to end; its exit code, or -1 if it did not
  // end (or ended by a signal).
  int WaitExit(int ms = 20000);
  // Whether the child is still running.
  bool Running();
  const std::string& output() const { return output_; }

  struct Impl;

 private:
  // Reads what is there within `ms`; false when nothing came (or the
  // output ended).
  bool ReadSome(int ms);

  std::unique_ptr<Impl> impl_;
  std::string output_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_CHILD_PROCESS_H_

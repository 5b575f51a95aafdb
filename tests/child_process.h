#ifndef SENTREL_TESTS_CHILD_PROCESS_H_
#define SENTREL_TESTS_CHILD_PROCESS_H_

// Test support: runs a program as a real child process with pipes on its
// standard input and output (and, when asked, a pipe of its own for its
// standard error), as a user's shell would.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

extern char** environ;

namespace sentrel {

class ChildProcess {
 public:
  enum class Errors { kWithOutput, kApart };

  // Starts `argv` in `cwd` (when not empty) with `extra_env` ("NAME=value")
  // set over this process's environment. Its standard error goes into
  // output() too, or, kApart, into errors().
  ChildProcess(const std::vector<std::string>& argv, const std::string& cwd = "",
               const std::vector<std::string>& extra_env = {},
               Errors errors = Errors::kWithOutput) {
    int in[2], out[2], err[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
    if (errors == Errors::kApart && pipe2(err, O_CLOEXEC) != 0) return;
    // An inherited variable of the same name would win in getenv (the first
    // one counts), so the test's own values replace it.
    auto name_of = [](const std::string& e) { return e.substr(0, e.find('=')); };
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
      std::string entry = *e, name = name_of(entry);
      bool replaced = false;
      for (const auto& x : extra_env) replaced = replaced || name_of(x) == name;
      if (!replaced) env_text.push_back(entry);
    }
    for (const auto& e : extra_env) env_text.push_back(e);
    std::vector<char*> args, env;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : env_text) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1] >= 0 ? err[1] : out[1], 2);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
      execve(args[0], args.data(), env.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (err[1] >= 0) close(err[1]);
    in_ = in[1];
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    CloseInput();
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  void Send(const std::string& text) {
    if (in_ >= 0) {
      ssize_t n = write(in_, text.data(), text.size());
      (void)n;
    }
  }
  void CloseInput() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  void Signal(int sig) {
    if (pid_ > 0 && !exited_) kill(pid_, sig);
  }

  // Reads output until `needle` appears at or after `from` (true) or `ms`
  // pass (false).
  bool WaitForOutput(const std::string& needle, int ms = 20000, size_t from = 0) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (output_.find(needle, from) == std::string::npos) {
      int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      end - std::chrono::steady_clock::now())
                                      .count());
      if (left <= 0 || !ReadSome(left)) return output_.find(needle, from) != std::string::npos;
    }
    return true;
  }
  // Reads both streams until `done` holds (true) or `ms` pass (false).
  bool ReadUntil(const std::function<bool()>& done, int ms = 20000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return done();
      if (!ReadSome(50) && out_ < 0 && err_ < 0) return done();
    }
    return true;
  }
  // Waits up to `ms` for the child to end; its exit code, or -1 if it did not
  // end (or ended by a signal).
  int WaitExit(int ms = 20000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      int status = 0;
      pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        while (ReadSome(100)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() >= end) return -1;
      ReadSome(20);
    }
  }
  // Whether the child is still running.
  bool Running() {
    if (exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      exited_ = true;
      return false;
    }
    return true;
  }
  const std::string& output() const { return output_; }
  const std::string& errors() const { return errors_; }

 private:
  // Reads what is there on the open pipes, waiting up to `ms`; false when
  // nothing came (an end of a pipe counts as something).
  bool ReadSome(int ms) {
    struct pollfd p[2];
    nfds_t count = 0;
    if (out_ >= 0) p[count++] = {out_, POLLIN, 0};
    if (err_ >= 0) p[count++] = {err_, POLLIN, 0};
    if (count == 0 || poll(p, count, ms) <= 0) return false;
    bool got = false;
    for (nfds_t i = 0; i < count; ++i) {
      if (p[i].revents == 0) continue;
      int& fd = p[i].fd == out_ ? out_ : err_;
      std::string& text = p[i].fd == out_ ? output_ : errors_;
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) {
        close(fd);
        fd = -1;
      } else {
        text.append(buf, static_cast<size_t>(n));
      }
      got = true;
    }
    return got;
  }

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool exited_ = false;
  std::string output_, errors_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_CHILD_PROCESS_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include "child_process.h"

extern char** environ;

namespace sentrel {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  bool exited = false;
};

namespace {

// The environment with `extra_env` ("NAME=value") set over this process's.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& extra_env) {
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
  return env_text;
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::vector<std::string>& extra_env, Errors errors)
    : impl_(std::make_unique<Impl>()) {
  int in[2], out[2], err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return;
  if (errors == Errors::kApart && pipe2(err, O_CLOEXEC) != 0) return;
  const std::vector<std::string> env_text = EnvironmentWith(extra_env);
  std::vector<char*> args, env;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const auto& e : env_text) env.push_back(const_cast<char*>(e.c_str()));
  env.push_back(nullptr);
  impl_->pid = fork();
  if (impl_->pid == 0) {
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
  impl_->in = in[1];
  impl_->out = out[0];
  impl_->err = err[0];
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (impl_->pid > 0 && !impl_->exited) {
    kill(impl_->pid, SIGKILL);
    waitpid(impl_->pid, nullptr, 0);
  }
  if (impl_->out >= 0) close(impl_->out);
  if (impl_->err >= 0) close(impl_->err);
}

bool ChildProcess::started() const { return impl_->pid > 0; }

void ChildProcess::Send(const std::string& text) {
  if (impl_->in >= 0) {
    ssize_t n = write(impl_->in, text.data(), text.size());
    (void)n;
  }
}

void ChildProcess::CloseInput() {
  if (impl_->in >= 0) close(impl_->in);
  impl_->in = -1;
}

void ChildProcess::Signal(int sig) {
  if (impl_->pid > 0 && !impl_->exited) kill(impl_->pid, sig);
}

void ChildProcess::SignalGroup(int sig) {
  if (impl_->pid > 0 && !impl_->exited && getpgid(impl_->pid) == impl_->pid) kill(-impl_->pid, sig);
}

bool ChildProcess::WaitForOutput(const std::string& needle, int ms, size_t from) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (output_.find(needle, from) == std::string::npos) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0 || !ReadSome(left)) return output_.find(needle, from) != std::string::npos;
  }
  return true;
}

int ChildProcess::WaitExit(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    int status = 0;
    pid_t r = waitpid(impl_->pid, &status, WNOHANG);
    if (r == impl_->pid) {
      impl_->exited = true;
      while (ReadSome(100)) {
      }
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    ReadSome(20);
  }
}

bool ChildProcess::Running() {
  if (impl_->exited) return false;
  int status = 0;
  if (waitpid(impl_->pid, &status, WNOHANG) == impl_->pid) {
    impl_->exited = true;
    return false;
  }
  return true;
}

bool ChildProcess::ReadSome(int ms) {
  struct pollfd p[2];
  nfds_t count = 0;
  if (impl_->out >= 0) p[count++] = {impl_->out, POLLIN, 0};
  if (impl_->err >= 0) p[count++] = {impl_->err, POLLIN, 0};
  if (count == 0 || poll(p, count, ms) <= 0) return false;
  bool got = false;
  for (nfds_t i = 0; i < count; ++i) {
    if (p[i].revents == 0) continue;
    int& fd = p[i].fd == impl_->out ? impl_->out : impl_->err;
    std::string& text = p[i].fd == impl_->out ? output_ : errors_;
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

bool ChildProcess::Reading() const { return impl_->out >= 0 || impl_->err >= 0; }

bool ChildProcess::ReadUntil(const std::function<bool()>& done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    if (!ReadSome(50) && !Reading()) return done();
  }
  return true;
}

}  // namespace sentrel

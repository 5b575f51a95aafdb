#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "file_holder.h"

extern char** environ;

namespace sentrel {

struct FileHolder::Impl {
  pid_t pid = -1;
};

FileHolder::FileHolder(const std::string& path, bool write) : impl_(std::make_unique<Impl>()) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  const std::string program = std::string(SENTREL_TEST_HELPER_DIR) + "/hold_open";
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                  const_cast<char*>(write ? "write" : "read"), nullptr};
  if (posix_spawn(&impl_->pid, program.c_str(), &actions, nullptr, argv, environ) != 0) {
    impl_->pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  // Waits generously for the "ready" line: the machine may be busy.
  struct pollfd p = {out[0], POLLIN, 0};
  char buf[16] = {};
  if (impl_->pid > 0 && poll(&p, 1, 20000) == 1 && read(out[0], buf, sizeof buf - 1) > 0) {
    started_ = std::string(buf).rfind("ready", 0) == 0;
  }
  close(out[0]);
}

FileHolder::~FileHolder() { Release(); }

void FileHolder::Release() {
  if (impl_->pid <= 0) return;
  kill(impl_->pid, SIGKILL);
  int status = 0;
  waitpid(impl_->pid, &status, 0);
  impl_->pid = -1;
}

}  // namespace sentrel

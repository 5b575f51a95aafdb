#ifndef SENTREL_TESTS_FILE_HOLDER_H_
#define SENTREL_TESTS_FILE_HOLDER_H_

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

extern char** environ;

namespace sentrel {

// A second process that holds a file open until Release() or destruction
// (the helper tests/helpers/hold_open). Started() tells whether it came up
// and has the file open.
class FileHolder {
 public:
  explicit FileHolder(const std::string& path, bool write = false) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    const std::string program = std::string(SENTREL_TEST_HELPER_DIR) + "/hold_open";
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()),
                    const_cast<char*>(write ? "write" : "read"), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // Waits generously for the "ready" line: the machine may be busy.
    struct pollfd p = {out[0], POLLIN, 0};
    char buf[16] = {};
    if (pid_ > 0 && poll(&p, 1, 20000) == 1 && read(out[0], buf, sizeof buf - 1) > 0) {
      started_ = std::string(buf).rfind("ready", 0) == 0;
    }
    close(out[0]);
  }
  ~FileHolder() { Release(); }
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  bool Started() const { return started_; }

  // Kills the holder and reaps it: afterwards the file is no longer open.
  void Release() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool started_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_FILE_HOLDER_H_

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/process.h"
#include "platform/process_requests_posix.h"

extern char** environ;

namespace sentrel {
namespace {

// A descriptor that polls readable once the process has ended; -1 where the
// kernel has none to give (then waits fall back to asking in short steps).
int OpenPidFd(int pid) {
#ifdef SYS_pidfd_open
  long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) return static_cast<int>(fd);
#else
  (void)pid;
#endif
  return -1;
}

int StatusOf(int wstatus) {
  if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
  return -1;
}

void SleepMs(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// Waits for the children that nobody else waits for. One thread for the
// whole program, started with the first child it is given; it sleeps in
// poll() on the children's descriptors, so it costs nothing while they run.
// Only the given pids are waited for: a child started elsewhere in the
// process and waited for there is never taken away from its owner.
class Reaper {
 public:
  static Reaper& Get() {
    // Never destroyed: its thread may still run while the process exits.
    static Reaper* reaper = new Reaper;
    return *reaper;
  }

  void Adopt(int pid, int pidfd) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      pending_.push_back({pid, pidfd});
      if (!thread_started_) {
        try {
          std::thread([this] { Loop(); }).detach();
          thread_started_ = true;
        } catch (const std::system_error&) {
          // No thread now: what has ended is reaped here, the rest on a
          // later adoption.
          ReapEndedLocked();
        }
      }
    }
    Wake();
  }

  int Count() {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(pending_.size());
  }

 private:
  struct Pending {
    int pid;
    int pidfd;
  };

  Reaper() : event_fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

  void Wake() {
    if (event_fd_ < 0) return;
    uint64_t one = 1;
    ssize_t r = write(event_fd_, &one, sizeof one);
    (void)r;
  }

  void ReapEndedLocked() {
    for (size_t i = 0; i < pending_.size();) {
      int status = 0;
      pid_t r = waitpid(pending_[i].pid, &status, WNOHANG);
      if (r == pending_[i].pid || (r < 0 && errno == ECHILD)) {
        if (pending_[i].pidfd >= 0) close(pending_[i].pidfd);
        pending_[i] = pending_.back();
        pending_.pop_back();
      } else {
        ++i;
      }
    }
  }

  void Loop() {
    std::vector<struct pollfd> fds;
    for (;;) {
      bool blind = event_fd_ < 0;  // some child can only be asked about
      fds.clear();
      if (event_fd_ >= 0) fds.push_back({event_fd_, POLLIN, 0});
      {
        std::lock_guard<std::mutex> lock(mu_);
        for (const Pending& p : pending_) {
          if (p.pidfd >= 0) {
            fds.push_back({p.pidfd, POLLIN, 0});
          } else {
            blind = true;
          }
        }
      }
      int r = poll(fds.data(), fds.size(), blind ? 100 : -1);
      if (r < 0 && errno != EINTR) SleepMs(100);
      if (event_fd_ >= 0) {
        uint64_t drained;
        ssize_t n = read(event_fd_, &drained, sizeof drained);
        (void)n;
      }
      std::lock_guard<std::mutex> lock(mu_);
      ReapEndedLocked();
    }
  }

  std::mutex mu_;
  std::vector<Pending> pending_;
  bool thread_started_ = false;
  const int event_fd_;
};

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attr_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

// Makes the handles of started children; a friend of SpawnedProcess.
class ProcessStarter {
 public:
  static SpawnedProcess Make(int pid, int pidfd) { return SpawnedProcess(pid, pidfd); }
};

void SpawnedProcess::Detach() {
  if (pid_ > 0) {
    Reaper::Get().Adopt(pid_, static_cast<int>(native_));
  } else if (native_ >= 0) {
    close(static_cast<int>(native_));
  }
  pid_ = -1;
  native_ = -1;
}

void SpawnedProcess::Reaped(int status) {
  exit_status_ = status;
  pid_ = -1;
  if (native_ >= 0) close(static_cast<int>(native_));
  native_ = -1;
}

bool SpawnedProcess::HasExited() {
  if (pid_ <= 0) return true;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    Reaped(StatusOf(status));
    return true;
  }
  if (r < 0 && errno == ECHILD) {  // reaped behind our back: it has ended
    Reaped(-1);
    return true;
  }
  return false;
}

SpawnedProcess::WaitResult SpawnedProcess::Wait(const std::function<bool()>& stop_requested,
                                            int timeout_ms) {
  if (pid_ <= 0) return WaitResult::kNoProcess;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (HasExited()) return WaitResult::kExited;
    if (stop_requested && stop_requested()) return WaitResult::kStopped;
    int slice = stop_requested ? 50 : -1;
    if (timeout_ms >= 0) {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
      if (spent >= timeout_ms) return WaitResult::kTimedOut;
      const int left = static_cast<int>(timeout_ms - spent);
      if (slice < 0 || left < slice) slice = left;
    }
    if (native_ >= 0) {
      struct pollfd pfd = {static_cast<int>(native_), POLLIN, 0};
      poll(&pfd, 1, slice);
    } else {
      SleepMs(slice < 0 || slice > 10 ? 10 : slice);
    }
  }
}

void SpawnedProcess::Terminate(bool forced) {
  if (pid_ <= 0) return;
  const int sig = forced ? SIGKILL : SIGTERM;
  // The child is ours and not yet reaped, so its pid cannot have been reused.
#ifdef SYS_pidfd_send_signal
  if (native_ >= 0 && syscall(SYS_pidfd_send_signal, static_cast<int>(native_), sig, nullptr, 0) == 0) {
    return;
  }
#endif
  kill(pid_, sig);
}

bool ArgumentsFit(const std::vector<std::string>& argv) {
  // The kernel's limit on one argument (32 pages) and on all of them with
  // the environment and their pointers; a margin is kept for what the
  // system itself puts on the new program's stack.
  constexpr size_t kOneArgument = 32 * 4096;
  // The kernel also holds them to 6 MiB whatever the stack limit allows.
  long arg_max = std::min(sysconf(_SC_ARG_MAX), 6L << 20);
  if (arg_max <= 0) arg_max = 128 * 1024;
  size_t total = 4096;
  for (char** e = environ; *e != nullptr; ++e) total += std::strlen(*e) + 1 + sizeof(char*);
  for (const std::string& arg : argv) {
    if (arg.size() + 1 > kOneArgument) return false;
    total += arg.size() + 1 + sizeof(char*);
  }
  return total <= static_cast<size_t>(arg_max);
}

SpawnedProcess StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                          int* error) {
  if (error != nullptr) *error = 0;
  if (argv.empty() || argv[0].empty()) {
    if (error != nullptr) *error = ENOENT;
    return SpawnedProcess();
  }
  SpawnSetup setup;
  if (options.null_streams) {
    for (int fd = 0; fd <= 2; ++fd) {
      posix_spawn_file_actions_addopen(&setup.actions_, fd, "/dev/null",
                                       fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
  }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Descriptors of ours that were opened without close-on-exec (by a library,
  // say) must not leak: a child holding a watched file open would make it
  // look in use.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions_, 3);
#endif
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&setup.actions_, options.directory.c_str());
  }
  // We ignore SIGPIPE and block signals in threads; the program gets the
  // dispositions it would get from a shell (what was ignored when we
  // started stays ignored) and an empty mask.
  sigset_t all, none;
  SignalsToResetInChildren(all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.attr_, &all);
  posix_spawnattr_setsigmask(&setup.attr_, &none);
  posix_spawnattr_setflags(&setup.attr_, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &setup.actions_, &setup.attr_, args.data(), environ);
  if (rc != 0) {
    if (error != nullptr) *error = rc;
    return SpawnedProcess();
  }
  return ProcessStarter::Make(pid, OpenPidFd(pid));
}

SpawnedProcess OpenWithDesktop(const std::string& target, const ProcessOptions& options,
                               int* error) {
  return StartProcess({"xdg-open", target}, options, error);
}

std::string ErrorText(int error) {
  // ENOENT from a spawn means the program, not some file, was not found.
  if (error == ENOENT) return "not found";
  if (error == EACCES) return "not executable (permission denied)";
  return std::strerror(error);
}

std::string ExitStatusText(int status) {
  if (status > 128 && status < 128 + NSIG) {
    const int sig = status - 128;
    const char* name = strsignal(sig);
    return "was ended by signal " + std::to_string(sig) +
           (name != nullptr ? " (" + std::string(name) + ")" : std::string());
  }
  return "exited with status " + std::to_string(status);
}

bool EndedByStopSignal(int status) {
  const int sig = status - 128;
  return sig == SIGINT || sig == SIGTERM || sig == SIGHUP || sig == SIGQUIT;
}

std::string FindProgram(const std::string& name, const std::string& directory) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string::npos) {
    const std::string file =
        name[0] != '/' && !directory.empty() ? directory + "/" + name : name;
    return IsExecutableFile(file) ? file : std::string();
  }
  const char* env_path = std::getenv("PATH");
  const std::string path = env_path != nullptr ? env_path : "/bin:/usr/bin";
  size_t begin = 0;
  for (;;) {
    size_t end = path.find(':', begin);
    std::string dir = path.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (dir.empty()) dir = directory.empty() ? "." : directory;
    if (IsExecutableFile(dir + "/" + name)) return dir + "/" + name;
    if (end == std::string::npos) return std::string();
    begin = end + 1;
  }
}

bool IsExecutableProgram(const std::string& name, const std::string& directory) {
  return !FindProgram(name, directory).empty();
}

std::vector<std::string> SplitArguments(std::string_view text, const std::vector<bool>& literal) {
  auto is_literal = [&](size_t i) { return i < literal.size() && literal[i]; };
  enum class Quote { kNone, kSingle, kDouble } quote = Quote::kNone;
  std::vector<std::string> out;
  std::string current;
  bool in_word = false;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (is_literal(i)) {
      current.push_back(c);
      in_word = true;
      continue;
    }
    switch (quote) {
      case Quote::kSingle:
        if (c == '\'') {
          quote = Quote::kNone;
        } else {
          current.push_back(c);
        }
        break;
      case Quote::kDouble:
        if (c == '"') {
          quote = Quote::kNone;
        } else if (c == '\\' && i + 1 < n && !is_literal(i + 1) &&
                   std::strchr("$`\"\\\n", text[i + 1]) != nullptr) {
          ++i;
          if (text[i] != '\n') current.push_back(text[i]);
        } else {
          current.push_back(c);
        }
        break;
      case Quote::kNone:
        if (IsBlank(c)) {
          if (in_word) out.push_back(std::move(current));
          current.clear();
          in_word = false;
        } else if (c == '\'' || c == '"') {
          quote = c == '\'' ? Quote::kSingle : Quote::kDouble;
          in_word = true;
        } else if (c == '\\' && i + 1 < n) {
          ++i;
          if (text[i] == '\n' && !is_literal(i)) break;  // a continued line
          current.push_back(text[i]);
          in_word = true;
        } else {
          current.push_back(c);
          in_word = true;
        }
        break;
    }
  }
  if (in_word) out.push_back(std::move(current));
  return out;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

int ChildrenAwaitingReap() { return Reaper::Get().Count(); }

}  // namespace sentrel

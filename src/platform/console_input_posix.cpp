#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/console_input.h"

namespace sentrel {
namespace {

int g_signal_pipe[2] = {-1, -1};
std::atomic<bool> g_saved_terminal{false};
struct termios g_saved_termios;

void RestoreTerminal() {
  if (g_saved_terminal.exchange(false)) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_termios);
  }
}

void OnStopSignal(int) {
  int saved = errno;
  if (g_signal_pipe[1] >= 0) {
    char b = 1;
    ssize_t r = write(g_signal_pipe[1], &b, 1);
    (void)r;
  }
  errno = saved;
}

class PosixConsoleInput final : public ConsoleInput {
 public:
  PosixConsoleInput() {
    // The stop signals are blocked and read from a descriptor: no handler
    // runs at an arbitrary point, and no thread started later (they inherit
    // the mask) can be hit by one. Programs we start get a clean mask.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stops, nullptr) == 0) {
      signal_fd_ = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
      if (signal_fd_ < 0) pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
    }
    if (signal_fd_ < 0) {
      // Without signalfd: a handler that writes to a pipe.
      if (g_signal_pipe[0] < 0 && pipe2(g_signal_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_signal_pipe[0] = g_signal_pipe[1] = -1;
      }
      struct sigaction sa = {};
      sa.sa_handler = OnStopSignal;
      sigemptyset(&sa.sa_mask);
      sigaction(SIGINT, &sa, nullptr);
      sigaction(SIGTERM, &sa, nullptr);
      sigaction(SIGHUP, &sa, nullptr);
    }
    // A program we start may close its end of a pipe we write to; that must
    // not end the monitor.
    signal(SIGPIPE, SIG_IGN);

    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_saved_termios) == 0) {
      struct termios raw = g_saved_termios;
      raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      // Reads never wait (poll does the waiting): input that poll announced
      // can be gone before the read, since Ctrl-C flushes it and another
      // reader of the terminal may take it, and a read that blocked then
      // would leave every stop signal unanswered until the next key.
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
        g_saved_terminal = true;
        terminal_never_blocks_ = true;
        static bool registered = false;
        if (!registered) {
          registered = true;
          atexit(RestoreTerminal);
        }
      }
    }
  }
  ~PosixConsoleInput() override {
    RestoreTerminal();
    if (signal_fd_ >= 0) close(signal_fd_);
  }

  int WaitKey() override {
    for (;;) {
      struct pollfd fds[2];
      int n = 0;
      const int stop_fd = signal_fd_ >= 0 ? signal_fd_ : g_signal_pipe[0];
      fds[n++] = {stop_fd, POLLIN, 0};
      if (!input_ended_) fds[n++] = {STDIN_FILENO, POLLIN, 0};
      int r = poll(fds, n, -1);
      if (r < 0) {
        if (errno == EINTR) continue;
        return kStop;
      }
      if (fds[0].revents & POLLIN) {
        char drain[sizeof(struct signalfd_siginfo)];
        while (read(stop_fd, drain, sizeof drain) > 0) {
        }
        return kStop;
      }
      if (n > 1 && fds[1].revents) {
        const bool ended = fds[1].revents & (POLLHUP | POLLERR | POLLNVAL);
        // The same vanishing input on a pipe: read only what is there.
        if (!ended && !terminal_never_blocks_ && NothingToRead()) continue;
        unsigned char c;
        ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got == 1) return c;
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // A terminal that never blocks reads nothing when its input was
        // flushed; only a hang-up ends it.
        if (got == 0 && terminal_never_blocks_ && !ended) continue;
        // End of input (or an unreadable one): keep monitoring until a signal,
        // so that the program can run with its input closed, as a service.
        input_ended_ = true;
      }
    }
  }

 private:
  // A pipe whose announced bytes are gone (a second reader took them). Files
  // and devices are left to read: a file at its end polls ready for ever, so
  // asking it would spin instead of ending the input.
  static bool NothingToRead() {
    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) return false;
    int available = 0;
    return ioctl(STDIN_FILENO, FIONREAD, &available) == 0 && available == 0;
  }

  bool terminal_never_blocks_ = false;
  bool input_ended_ = false;
  int signal_fd_ = -1;
};

}  // namespace

std::unique_ptr<ConsoleInput> OpenConsoleInput() {
  return std::make_unique<PosixConsoleInput>();
}

void ExitProcessNow(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  RestoreTerminal();
  _exit(code);
}

}  // namespace sentrel

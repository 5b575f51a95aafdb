#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "platform/console_input.h"
#include "platform/process_requests.h"
#include "platform/process_requests_posix.h"

namespace sentrel {
namespace {

// The terminal's own settings, kept while key mode may be on, to be put back.
std::atomic<bool> g_saved_terminal{false};
struct termios g_saved_termios;

// Whether this process may use the terminal on standard input: it is in the
// terminal's foreground group, or the terminal has no job control for it
// (not its controlling terminal).
bool InForeground() {
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  return foreground < 0 || foreground == getpgrp();
}

// Changes the terminal without ever being stopped for it: a process that
// touches its terminal from the background gets SIGTTOU, whose default is to
// stop, and a monitor stopped that way (or on its way out) never resumes by
// itself. Callers check InForeground first, so the shell's own settings are
// not overwritten either.
bool SetTerminal(const struct termios& settings) {
  sigset_t ttou, previous;
  sigemptyset(&ttou);
  sigaddset(&ttou, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &ttou, &previous);
  const bool done = tcsetattr(STDIN_FILENO, TCSANOW, &settings) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return done;
}

void RestoreTerminal() {
  // In the background the shell has taken the terminal back with its own
  // settings; ours are not to be forced on it.
  if (g_saved_terminal.exchange(false) && InForeground()) SetTerminal(g_saved_termios);
}

class PosixConsoleInput final : public ConsoleInput {
 public:
  PosixConsoleInput() : terminal_(isatty(STDIN_FILENO) == 1) {
    // Started in the background (`sentrel my.mon &`), the program leaves the
    // terminal alone and monitors; key mode starts when it is brought to the
    // foreground.
    if (InForeground()) EnterKeyMode();
  }
  ~PosixConsoleInput() override { RestoreTerminal(); }

  int WaitKey() override {
    for (;;) {
      const bool foreground = !terminal_ || InForeground();
      if (foreground) EnterKeyMode();
      const bool take_keys = !input_ended_ && foreground;
      struct pollfd fds[2];
      int n = 0;
      fds[n++] = {RequestDescriptor(), POLLIN, 0};
      if (take_keys) fds[n++] = {STDIN_FILENO, POLLIN, 0};
      // In the background the terminal belongs to the shell (reading it would
      // stop the program); it is looked at again twice a second, to take keys
      // once the program is in the foreground.
      const int timeout_ms = !input_ended_ && !foreground ? 500 : -1;
      int r = poll(fds, n, timeout_ms);
      if (r < 0) {
        if (errno == EINTR) continue;
        return kStop;
      }
      if (fds[0].revents & POLLIN) {
        char request = 0;
        if (read(fds[0].fd, &request, 1) != 1) continue;
        if (request == kStopByte) {
          StopTaken();
          return kStop;
        }
        if (request == kCheckNowByte) return kCheckNow;
        if (request == kReloadByte) return kReload;
        continue;  // the job came back: key mode is looked at again
      }
      if (n > 1 && fds[1].revents) {
        if (terminal_ && !InForeground()) continue;  // sent to the background meanwhile
        const bool ended = fds[1].revents & (POLLHUP | POLLERR | POLLNVAL);
        // The same vanishing input on a pipe: read only what is there.
        if (!ended && !key_mode_ && NothingToRead()) continue;
        unsigned char c;
        ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got == 1) return c;
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        // A terminal in key mode reads nothing when its input was flushed;
        // only a hang-up ends it.
        if (got == 0 && key_mode_ && !ended) continue;
        // End of input (or an unreadable one): keep monitoring until a signal,
        // so that the program can run with its input closed, as a service.
        input_ended_ = true;
      }
    }
  }

 private:
  // Single keys without echo. Reads never wait (poll does the waiting):
  // input that poll announced can be gone before the read, since Ctrl-C
  // flushes it and another reader of the terminal may take it, and a read
  // that blocked then would leave every stop signal unanswered until the
  // next key. Checked at every wake-up, since the shell resets the terminal
  // when the job is stopped with Ctrl-Z.
  void EnterKeyMode() {
    key_mode_ = false;
    if (!terminal_) return;
    struct termios now;
    if (tcgetattr(STDIN_FILENO, &now) != 0) return;
    if (g_saved_terminal && (now.c_lflag & (ICANON | ECHO)) == 0 && now.c_cc[VMIN] == 0 &&
        now.c_cc[VTIME] == 0) {
      key_mode_ = true;
      return;
    }
    if (!g_saved_terminal) g_saved_termios = now;
    struct termios keys = g_saved_termios;
    keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    keys.c_cc[VMIN] = 0;
    keys.c_cc[VTIME] = 0;
    if (!SetTerminal(keys)) return;
    key_mode_ = true;
    g_saved_terminal = true;
    static bool registered = false;
    if (!registered) {
      registered = true;
      atexit(RestoreTerminal);
    }
  }

  // A pipe whose announced bytes are gone (a second reader took them). Files
  // and devices are left to read: a file at its end polls ready for ever, so
  // asking it would spin instead of ending the input.
  static bool NothingToRead() {
    struct stat st;
    if (fstat(STDIN_FILENO, &st) != 0 || !S_ISFIFO(st.st_mode)) return false;
    int available = 0;
    return ioctl(STDIN_FILENO, FIONREAD, &available) == 0 && available == 0;
  }

  const bool terminal_;
  bool key_mode_ = false;
  bool input_ended_ = false;
};

}  // namespace

std::unique_ptr<ConsoleInput> OpenConsoleInput() {
  return std::make_unique<PosixConsoleInput>();
}

std::string StopWaysText() { return "or it receives SIGINT, SIGTERM, SIGHUP or SIGQUIT"; }

std::string ReloadWaysText() { return "when it is saved, and on SIGHUP without a terminal"; }

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void ExitProcessNow(int code) {
  // Nothing is flushed: the program's lines are written unbuffered (see
  // std_streams.h), and a flush could wait for ever on a stream nobody reads.
  RestoreTerminal();
  _exit(code);
}

}  // namespace sentrel

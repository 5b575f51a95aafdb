#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "platform/console_input.h"
#include "platform/process_requests.h"
#include "platform/process_requests_posix.h"

namespace sentrel {
namespace {

int g_requests[2] = {-1, -1};
// Set before any thread starts, read by any after.
bool g_listening = false;
std::atomic<int> g_stops{0};

constexpr int kRequestSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGCONT};

// The signals that whoever started us set to be ignored (nohup ignores
// SIGHUP, a shell's background job of a script SIGINT and SIGQUIT): they stay
// ignored, here and in the programs we start, as daemons and shells have
// always done. Recorded by the listener before it changes any disposition.
sigset_t g_ignored_at_start;

void RecordIgnoredAtStart() {
  sigemptyset(&g_ignored_at_start);
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) {
      sigaddset(&g_ignored_at_start, sig);
    }
  }
}

// Every signal the listener takes, the others keep their default actions.
// SIGCONT still continues the process whatever its mask; taken here, it only
// says that the job came back.
sigset_t ListenedSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kRequestSignals) {
    if (!sigismember(&g_ignored_at_start, sig)) sigaddset(&set, sig);
  }
  return set;
}

// A service has none; a hang-up then cannot mean that its terminal went.
// Asked once at the start: a terminal that hung up may no longer open.
bool HasControllingTerminal() {
  const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}
bool g_controlling_terminal = true;

// The one place that says what each signal asks for. SIGQUIT (Ctrl-\) would
// otherwise dump core and leave the terminal without echo.
ProcessRequest RequestFor(int sig) {
  switch (sig) {
    case SIGHUP:
      return g_controlling_terminal ? ProcessRequest::kStop : ProcessRequest::kReload;
    case SIGINT:
    case SIGTERM:
    case SIGQUIT:
      return ProcessRequest::kStop;
    case SIGUSR1:
      return ProcessRequest::kCheckNow;
    default:
      return ProcessRequest::kNone;
  }
}

void Tell(char byte) {
  // The pipe holds thousands of requests; when it is full, the reader has
  // plenty to see already.
  ssize_t r = write(g_requests[1], &byte, 1);
  (void)r;
}

void Listen(sigset_t set) {
  // Named for whoever looks at the threads (top -H, /proc): while it waits,
  // the system shows the signals it waits for as unblocked in it alone.
  pthread_setname_np(pthread_self(), "sentrel-signals");
  for (;;) {
    siginfo_t info;
    const int sig = sigwaitinfo(&set, &info);
    if (sig < 0) continue;  // EINTR
    switch (RequestFor(sig)) {
      case ProcessRequest::kStop:
        // A second stop is the user insisting; the first gets its take-over
        // deadline before the main thread can hear of it, so that the main
        // thread's own (longer) deadline always comes after it.
        if (g_stops.fetch_add(1) > 0) ExitProcessNow(ForcedStopExitCode());
        EndProcessWithin(kStopTakeOverMs, ForcedStopExitCode());
        Tell(kStopByte);
        break;
      case ProcessRequest::kCheckNow:
        Tell(kCheckNowByte);
        break;
      case ProcessRequest::kReload:
        Tell(kReloadByte);
        break;
      case ProcessRequest::kNone:
        if (sig == SIGCONT) Tell(kContinuedByte);
        break;
    }
  }
}

}  // namespace

int RequestDescriptor() { return g_requests[0]; }

void SignalsToResetInChildren(sigset_t& set) {
  sigfillset(&set);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (g_listening && sigismember(&g_ignored_at_start, sig)) sigdelset(&set, sig);
  }
}

void ListenForProcessRequests() {
  if (!g_listening) RecordIgnoredAtStart();
  g_listening = true;
  // A program we start may close its end of a pipe we write to, and a reader
  // of our output may go: neither must end the monitor.
  signal(SIGPIPE, SIG_IGN);
  if (g_requests[0] >= 0) return;
  g_controlling_terminal = HasControllingTerminal();
  if (pipe2(g_requests, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_requests[0] = g_requests[1] = -1;
    return;  // the signals keep their default actions: they still end it
  }
  // Blocked in this thread and so in every thread started after it; the
  // listener takes them with sigwaitinfo, so no handler ever runs at an
  // arbitrary point. Programs we start get a clean mask.
  const sigset_t set = ListenedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    std::thread([set] { Listen(set); }).detach();
  } catch (const std::system_error&) {
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  }
}

}  // namespace sentrel

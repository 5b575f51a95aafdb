#ifndef SENTREL_PLATFORM_PROCESS_REQUESTS_H_
#define SENTREL_PLATFORM_PROCESS_REQUESTS_H_

namespace sentrel {

// What the system or the user can ask of the running monitor from outside
// its console keys. Which signal or console event means which request is
// decided in one place per platform (process_requests_posix.cpp,
// process_requests_win32.cpp).
enum class ProcessRequest {
  kNone,
  // Linux: SIGINT, SIGTERM, SIGQUIT, and SIGHUP while the process has a
  // controlling terminal (the terminal is gone). Windows: Ctrl-C, Ctrl-Break,
  // the console window closed, log-off, shut-down.
  kStop,
  // Linux: SIGUSR1. Windows has no such signal.
  kCheckNow,
  // Linux: SIGHUP when the process has no controlling terminal (a service
  // is asked to read its configuration again). Windows: none.
  kReload,
};

// Takes the requests away from their default actions and receives them on a
// thread of its own; the console input hands them to the main thread (see
// ConsoleInput::WaitKey). Call once, before any other thread starts: threads
// inherit what it blocks, and one started before it would meet a signal with
// its default action, which ends the process. On Linux a signal that was
// ignored when the process started (nohup's SIGHUP) stays ignored, also in
// the programs the monitor starts.
//
// A stop must end the program at any moment, also while the main thread is
// held elsewhere (opening a configuration that is a pipe nobody writes, say):
// a stop that the main thread has not taken within kStopTakeOverMs ends the
// process with exit code 0, and a second stop ends it at once.
void ListenForProcessRequests();
inline constexpr int kStopTakeOverMs = 1000;

// The exit code of a stop that ends the process before the orderly stop is
// done (a second stop, or the take-over deadline): 0 by default, since the
// user asked for the end; a one-pass run sets 1, as its pass was cut.
void SetForcedStopExitCode(int code);
int ForcedStopExitCode();

// The main thread has the stop in hand (the console input says so when it
// hands one over): the take-over deadline no longer holds.
void StopTaken();

// Ends the process with `code` (as ExitProcessNow does) if it is still
// running `ms` from now. The orderly stop calls it when it begins, so that
// nothing it waits for (an item thread, a stream nobody reads) can hold the
// exit; a later call replaces the deadline.
void EndProcessWithin(int ms, int code);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PROCESS_REQUESTS_H_

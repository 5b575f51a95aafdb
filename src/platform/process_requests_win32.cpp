#include <windows.h>

#include <atomic>

#include "platform/console_input.h"
#include "platform/process_requests.h"
#include "platform/process_requests_win32.h"

namespace sentrel {
namespace {

std::atomic<bool> g_listening{false};
std::atomic<int> g_stops{0};

// The one place that says what each console event asks for: all of them
// stop. Windows has nothing that asks for a check now.
ProcessRequest RequestFor(DWORD) { return ProcessRequest::kStop; }

// The system calls it on a thread of its own.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (!g_listening || RequestFor(type) != ProcessRequest::kStop) return FALSE;
  // A second stop is the user insisting; the first gets its take-over
  // deadline before the main thread can hear of it.
  if (g_stops.fetch_add(1) > 0) ExitProcessNow(ForcedStopExitCode());
  EndProcessWithin(kStopTakeOverMs, ForcedStopExitCode());
  SetEvent(StopEvent());
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process as soon as this returns: give the orderly
    // stop the few seconds it allows.
    Sleep(5000);
  }
  return TRUE;
}

}  // namespace

HANDLE StopEvent() {
  static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return event;
}

void ListenForProcessRequests() {
  StopEvent();
  if (!g_listening.exchange(true)) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace sentrel

#ifndef SENTREL_SHELL_SYSTEM_EVENTS_H_
#define SENTREL_SHELL_SYSTEM_EVENTS_H_

#include <string>
#include <string_view>

#include "platform/service.h"

namespace sentrel {

// Under the Windows service, what an administrator looks for also goes to
// the system's event log: every line of standard error (a warning or an
// error event) and the start, reload and end. Off unless held or ready.

// From the start of a service on: events wait until the service manager has
// started the service, and go nowhere if it never does (the program was
// started from a console).
void HoldSystemEvents();
// The service runs: what waited is written, and every event from now on.
void SystemEventsReady();

// Text written to standard error: one event of its lines, a warning when
// each is one.
void SystemEventText(std::string_view text);
// One event, for news of standard output that matters.
void SystemEvent(EventKind kind, std::string text);

}  // namespace sentrel

#endif  // SENTREL_SHELL_SYSTEM_EVENTS_H_

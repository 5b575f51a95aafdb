#ifndef SENTREL_SHELL_SERVICES_H_
#define SENTREL_SHELL_SERVICES_H_

#include <atomic>

#include "platform/clock.h"
#include "platform/regional.h"
#include "shell/message_sink.h"

namespace sentrel {

// The program-wide services that items and actions reach the outside world
// through. The entry fills it with the real ones; tests put in fakes. It must
// outlive every item thread, so the entry never destroys its copy.
struct Services {
  Clock* clock = &SystemClock();
  MessageSink* messages = &ConsoleSink();
  // Where actions say that they could not do their work.
  MessageSink* errors = &ErrorSink();
  // Counts the runs of actions that could not do all their work, for a
  // caller that answers for them (a one-pass run's exit status); may be
  // none.
  std::atomic<int>* failed_actions = nullptr;
  RegionalSettings regional;
  // A dry run: items check and report as always, and every action says on
  // `messages` what it would do instead of doing it.
  bool dry_run = false;
  // Run as a Windows service: there is no desktop to show a popup on, play
  // a sound to, or close windows of.
  bool no_desktop = false;
};

}  // namespace sentrel

#endif  // SENTREL_SHELL_SERVICES_H_

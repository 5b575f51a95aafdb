#include "shell/system_events.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "shell/log_file.h"

namespace sentrel {
namespace {

enum class Mode { kOff, kHeld, kReady };

struct Events {
  std::mutex mu;
  Mode mode = Mode::kOff;
  std::vector<std::pair<EventKind, std::string>> held;
};

// Never destroyed: threads may write while the process ends.
Events& State() {
  static Events* events = new Events;
  return *events;
}

}  // namespace

void HoldSystemEvents() {
  std::lock_guard<std::mutex> lock(State().mu);
  if (State().mode == Mode::kOff) State().mode = Mode::kHeld;
}

void SystemEventsReady() {
  std::vector<std::pair<EventKind, std::string>> held;
  {
    std::lock_guard<std::mutex> lock(State().mu);
    State().mode = Mode::kReady;
    held.swap(State().held);
  }
  for (auto& [kind, text] : held) WriteSystemEvent(kind, text);
}

void SystemEventText(std::string_view text) {
  {
    std::lock_guard<std::mutex> lock(State().mu);
    if (State().mode == Mode::kOff) return;
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  if (text.empty()) return;
  EventKind kind = EventKind::kWarning;
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (!IsWarningLine(text.substr(start, end - start))) kind = EventKind::kError;
    start = end + 1;
  }
  SystemEvent(kind, std::string(text));
}

void SystemEvent(EventKind kind, std::string text) {
  {
    std::lock_guard<std::mutex> lock(State().mu);
    if (State().mode == Mode::kOff) return;
    if (State().mode == Mode::kHeld) {
      State().held.emplace_back(kind, std::move(text));
      return;
    }
  }
  WriteSystemEvent(kind, text);
}

}  // namespace sentrel

#include "entry/check_mode.h"

#include "actions/list_action.h"
#include "loader/monitor_process.h"
#include "platform/paths.h"

namespace sentrel {
namespace {

std::string Plural(size_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A path as a shell takes it back: quoted when it holds anything special.
std::string ShellWord(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_./-+=:,@") == std::string::npos) {
    return text;
  }
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string DescribeItem(const BaseMonitoring& item) {
  std::string text = "line " + std::to_string(item.OriginLine()) + ": " +
                     (item.IsDirectory().Value() == 1 ? "directory item \"" : "single-file item \"") +
                     item.FileName().Value() + "\"";
  if (item.Status() == kStatusPaused) text += ", paused (never checks)";
  text += "\n  every " + Plural(static_cast<size_t>(item.Interval().Value()), "second", "seconds") +
          ": " + item.Schedule().Describe() + "\n";
  if (item.SaveState().Value()) text += "  keeps its state in " + item.StatePath() + "\n";
  text += item.DescribeSelection();
  if (item.Actions().empty()) text += "  no actions\n";
  for (const auto& action : item.Actions()) {
    text += "  " + (action->line() > 0 ? "line " + std::to_string(action->line()) : "older form") +
            ": " + action->Caption() + " (Action=" + std::to_string(action->Kind()) + ")";
    if (!action->Enabled()) text += ", disabled";
    text += "\n";
  }
  return text;
}

// A service has no desktop: what needs one is left out when it runs there.
void NoteDesktopActions(const MonitorProcess& process, Diagnostics& notes) {
  for (const auto& item : process.Monitors()) {
    for (const auto& action : item->Actions()) {
      const int kind = action->Kind();
      const auto* list = dynamic_cast<const ListAction*>(action.get());
      if (action->Enabled() && list != nullptr && NamesConsole(list->ListName().Value())) {
        notes.Warn(action->line() > 0 ? action->line() : list->ListName().line(),
                   "ListName=" + list->ListName().Value() +
                       ": a service has no console, so the list goes to the log");
        continue;
      }
      if (!action->Enabled() ||
          (kind != kPopupAction && kind != kSoundAction && kind != kKillAction)) {
        continue;
      }
      notes.Warn(action->line() > 0 ? action->line() : item->OriginLine(),
                 action->Caption() + " (Action=" + std::to_string(kind) +
                     "): a service has no desktop, so this action is left out (said once in "
                     "the log)");
    }
  }
}

}  // namespace

void WriteRemarks(const std::string& config, const Diagnostics& notes, MessageSink& errors,
                  size_t limit) {
  const std::vector<Diagnostic> sorted = notes.Sorted();
  std::string text;
  size_t shown = 0;
  for (; shown < sorted.size() && shown < limit; ++shown) {
    text += FormatDiagnostic(config, sorted[shown]) + "\n";
  }
  if (notes.size() > shown) {
    text += config + ": " + Plural(notes.size() - shown, "more problem", "more problems");
    // The check itself shows all it keeps.
    text += limit < Diagnostics::kKept
                ? "; run \"sentrel --check " + ShellWord(config) + "\" to see them\n"
                : " (not shown)\n";
  }
  if (!text.empty()) errors.Write(text);
}

int RunCheck(const std::string& config, Services& services, MessageSink& out,
             MessageSink& errors) {
  Diagnostics notes;
  // The loader's own console line for an item it leaves out: the remarks
  // say the same with the line.
  Services quiet = services;
  quiet.messages = &DiscardSink();
  MonitorProcess process(quiet);
  process.set_autostart(false);
  process.Load(config, &notes);
  if (services.no_desktop) NoteDesktopActions(process, notes);
  std::string summary;
  for (const auto& item : process.Monitors()) summary += DescribeItem(*item);
  if (!summary.empty()) out.Write(summary);
  WriteRemarks(config, notes, errors, notes.size());
  out.Write(config + ": " + Plural(process.Monitors().size(), "item", "items") + ", " +
            (notes.empty() ? std::string("no problems") : Plural(notes.size(), "problem", "problems")) +
            ".\n");
  return notes.empty() ? 0 : 1;
}

}  // namespace sentrel

#include "entry/explain_mode.h"

#include "loader/monitor_process.h"
#include "entry/check_mode.h"
#include "lang/lang.h"

namespace sentrel {
namespace {

// The remarks a start would show: a mistake in the configuration is often
// the answer to the question asked.
constexpr size_t kRemarksShown = 10;

}  // namespace

int RunExplain(const std::string& path, const std::string& config, Services& services,
               MessageSink& out, MessageSink& errors) {
  Diagnostics notes;
  // The loader's own console line for an item it leaves out: the remarks
  // say the same with the line.
  Services quiet = services;
  quiet.messages = &DiscardSink();
  MonitorProcess process(quiet);
  process.set_autostart(false);
  const bool loaded = process.Load(config, &notes);
  WriteRemarks(config, notes, errors, kRemarksShown);
  if (!loaded) {
    out.Write(Strings().OemTextAt(kLngCantLoad) + " \"" + config + "\".\n");
    return 1;
  }
  std::string text;
  size_t reporting = 0;
  for (const auto& item : process.Monitors()) {
    const BaseMonitoring::PathVerdict v = item->ExplainPath(path);
    if (v.reported) ++reporting;
    text += "line " + std::to_string(item->OriginLine()) + ": " +
            (item->IsDirectory().Value() == 1 ? "directory item \"" : "single-file item \"") +
            item->FileName().Value() + "\"\n" + v.text;
  }
  text += "\"" + path + "\": " +
          (reporting == 0 ? std::string("no item would report it")
                          : reporting == 1 ? std::string("1 item would report it")
                                           : std::to_string(reporting) + " items would report it") +
          ".\n";
  out.Write(text);
  return reporting > 0 ? 0 : 1;
}

}  // namespace sentrel

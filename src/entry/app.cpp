#include "entry/app.h"

#include <cstdio>
#include <memory>

#include "loader/monitor_process.h"
#include "entry/check_mode.h"
#include "entry/command_line.h"
#include "entry/explain_mode.h"
#include "lang/lang.h"
#include "lang/options.h"
#include "monitor/state_file.h"
#include "platform/clock.h"
#include "platform/console_input.h"
#include "platform/regional.h"
#include "platform/settings_store.h"
#include "shell/search_paths.h"
#include "shell/services.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

// How long the stop waits for item threads before the process ends anyway:
// idle items end within about 100 ms, and one busy in a long action must not
// hold the exit.
constexpr int kStopGraceMs = 1000;
// How long it then waits for saves of items' states still being written
// (a tree of millions of files takes a fraction of a second).
constexpr int kStateSaveGraceMs = 10000;

// A normal start shows this many remarks on the configuration; the check
// shows them all.
constexpr size_t kRemarksAtStart = 10;

// The local date and time in ISO 8601 with milliseconds.
std::string LocalTimestamp() {
  const LocalTime t = SystemClock().Now();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return buf;
}

// Settings, language and the services that items reach the world through.
// Item threads may outlive the entry's frame on the way out, so the services
// are never destroyed.
Services* SetUpProgram(const SearchPlaces& places) {
  ApplyUserLocale();
  Options options;
  if (auto store = OpenUserSettingsStore()) LoadOptions(*store, options);
  {
    Lang lang(ChooseLangFolder(places, options.Language), options.Language);
    AdvStringList table;
    lang.LoadStrings(table, "Strings");
    InstallStrings(std::move(table));
  }
  Services* services = new Services;
  services->regional = UserRegionalSettings();
  return services;
}

int Monitor(const SearchPlaces& places, const std::string& config) {
  MessageSink& out = ConsoleSink();
  out.Write(std::string(kProgramName) + " " + kProgramVersion + " [console version]\n\n");
  Services* services = SetUpProgram(places);

  // Keys are read from before the load so that the terminal is in key mode
  // (no echo) from the start, and a stop signal during the load is not lost.
  std::unique_ptr<ConsoleInput> input = OpenConsoleInput();
  auto monitors = std::make_unique<MonitorProcess>(*services);
  Diagnostics notes;
  const bool loaded = monitors->Load(config, &notes);
  // Said before the messages below, so that the invitation to press X is
  // the last line a user sees.
  WriteRemarks(config, notes, ErrorSink(), kRemarksAtStart);
  if (!loaded) {
    out.Write(Strings().OemTextAt(kLngCantLoad) + " \"" + config + "\".\n");
    return 1;
  }
  out.Write(InsertPath(Strings().OemTextAt(kLngLoaded), config) + "\n" +
            Strings().OemTextAt(kLngStarted) + "\n");

  for (;;) {
    int key = input->WaitKey();
    if (key == ConsoleInput::kStop || key == 'x' || key == 'X') break;
  }
  monitors->StopAll();
  monitors->WaitStopped(kStopGraceMs);
  WaitForStateSaves(kStateSaveGraceMs);
  return 0;
}

}  // namespace

int RunConsoleProgram(const std::vector<std::string>& args) {
  // The usage names the places in the order the start looks at them.
  const SearchPlaces places = InstalledPlaces();
  const std::string usage = UsageText(DefaultConfigCandidates(places));
  const CommandLine cl = ParseCommandLine(args);
  if (cl.timestamps) SetLineStamp(&LocalTimestamp);

  switch (cl.mode) {
    case CommandLine::Mode::kUsageError:
      ErrorSink().Write("sentrel: " + cl.error + "\n\n" + usage);
      return 2;
    case CommandLine::Mode::kHelp:
      ConsoleSink().Write(usage);
      return 0;
    case CommandLine::Mode::kVersion:
      ConsoleSink().Write(VersionText() + "\n");
      return 0;
    case CommandLine::Mode::kCheck:
    case CommandLine::Mode::kExplain:
    case CommandLine::Mode::kStart:
      break;
  }
  if (!cl.ignored.empty()) {
    std::string names;
    for (const std::string& name : cl.ignored) {
      names += (names.empty() ? "\"" : ", \"") + name + "\"";
    }
    ErrorSink().Write("sentrel: warning: one configuration is read, \"" + *cl.config +
                      "\"; ignored: " + names + "\n");
  }
  if (!cl.config && !DefaultConfigFound(places)) {
    // Which file the message below names says little to someone who did
    // not know there was a search.
    std::string text = "sentrel: no configuration named, and none found in:\n";
    for (const std::string& place : DefaultConfigCandidates(places)) text += "  " + place + "\n";
    ErrorSink().Write(text + "Name one (sentrel CONFIG); \"sentrel --help\" says more.\n");
  }
  const std::string config = cl.config ? *cl.config : ChooseDefaultConfig(places);
  if (cl.mode == CommandLine::Mode::kCheck) {
    return RunCheck(config, *SetUpProgram(places), ConsoleSink(), ErrorSink());
  }
  if (cl.mode == CommandLine::Mode::kExplain) {
    return RunExplain(cl.explain, config, *SetUpProgram(places), ConsoleSink(), ErrorSink());
  }
  return Monitor(places, config);
}

}  // namespace sentrel

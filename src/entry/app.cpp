#include "entry/app.h"

#include <cstdio>
#include <memory>

#include "loader/monitor_process.h"
#include "entry/check_mode.h"
#include "entry/command_line.h"
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

int Monitor(const SearchPlaces& places, const std::string& config, const CommandLine& cl) {
  MessageSink& out = ConsoleSink();
  out.Write(std::string(kProgramName) + " " + kProgramVersion + " [console version]\n\n");
  Services* services = SetUpProgram(places);
  services->dry_run = cl.dry_run;
  if (cl.dry_run) out.Write("Dry run: actions say what they would do, and do nothing.\n");

  // Keys are read from before the load so that the terminal is in key mode
  // (no echo) from the start, and a stop signal during the load is not lost.
  std::unique_ptr<ConsoleInput> input = OpenConsoleInput();
  auto monitors = std::make_unique<MonitorProcess>(*services);
  // Strict: nothing may run before the whole file is known to be sound.
  monitors->set_autostart(!cl.strict);
  Diagnostics notes;
  const bool loaded = monitors->Load(config, &notes);
  // Said before the messages below, so that the invitation to press X is
  // the last line a user sees.
  WriteRemarks(config, notes, ErrorSink(), cl.strict ? notes.size() : kRemarksAtStart);
  if (!loaded) {
    out.Write(Strings().OemTextAt(kLngCantLoad) + " \"" + config + "\".\n");
    return 1;
  }
  if (cl.strict) {
    if (!notes.empty()) {
      ErrorSink().Write("sentrel: " + config + ": " + std::to_string(notes.size()) +
                        (notes.size() == 1 ? " problem" : " problems") +
                        ", and --strict starts nothing then\n");
      return 1;
    }
    monitors->StartAll();
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
    case CommandLine::Mode::kStart:
      break;
  }
  const std::string config = cl.config ? *cl.config : ChooseDefaultConfig(places);
  if (cl.mode == CommandLine::Mode::kCheck) {
    return RunCheck(config, *SetUpProgram(places), ConsoleSink(), ErrorSink());
  }
  return Monitor(places, config, cl);
}

}  // namespace sentrel

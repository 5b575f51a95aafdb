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
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/regional.h"
#include "platform/service.h"
#include "platform/settings_store.h"
#include "shell/log_file.h"
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

// `service_stop`, when given: run as a service, stopped by the manager, and
// without a desktop.
int Monitor(const SearchPlaces& places, const std::string& config,
            std::unique_ptr<ConsoleInput> service_stop = nullptr) {
  MessageSink& out = ConsoleSink();
  out.Write(std::string(kProgramName) + " " + kProgramVersion + " [console version]\n\n");
  Services* services = SetUpProgram(places);
  services->no_desktop = service_stop != nullptr;

  // Keys are read from before the load so that the terminal is in key mode
  // (no echo) from the start, and a stop signal during the load is not lost.
  std::unique_ptr<ConsoleInput> input = service_stop ? std::move(service_stop) : OpenConsoleInput();
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

// Registers the service for `config` (the machine's own configuration when
// none is named), with the log the command line names.
int InstallTheService(const CommandLine& cl) {
  std::vector<std::string> arguments = {"--service"};
  if (cl.log) arguments.insert(arguments.end(), {"--log", AbsolutePath(*cl.log)});
  const std::string config =
      cl.config ? AbsolutePath(*cl.config) : SystemConfigFolder() + kPathSeparator + "default.mon";
  arguments.insert(arguments.end(), {"--", config});
  std::string error;
  if (InstallService(arguments, error) != ServiceOutcome::kDone) {
    ErrorSink().Write("sentrel: " + error + "\n");
    return 1;
  }
  ConsoleSink().Write("The Sentrel service is registered: it starts with Windows and reads \"" +
                      config + "\".\nStart it now with: net start Sentrel\n");
  return 0;
}

int RemoveTheService() {
  std::string error;
  if (RemoveService(error) != ServiceOutcome::kDone) {
    ErrorSink().Write("sentrel: " + error + "\n");
    return 1;
  }
  ConsoleSink().Write("The Sentrel service is stopped and unregistered.\n");
  return 0;
}

// Opens the log of --log (a service's by default); false when it cannot be.
bool StartLog(const CommandLine& cl) {
  std::string path = cl.log ? *cl.log : std::string();
  if (path.empty() && cl.mode == CommandLine::Mode::kService) {
    path = ServiceLogPath();
    std::string ignored;
    MakeDirectories(path.substr(0, FindLastSeparator(path)), ignored);
  }
  if (path.empty()) return true;
  std::string error;
  if (OpenLogFile(path, error)) return true;
  ErrorSink().Write("sentrel: " + error + "\n");
  return false;
}

// Says in the log how the program ended, and closes it: the disk gets a
// moment, and a log that does not take it holds no stop.
void EndLog(int code) {
  if (!LogFileOpen()) return;
  LogText(LogLevel::kInfo,
          std::string(kProgramName) + " ended with exit code " + std::to_string(code) + "\n");
  CloseLogFile(1000);
}

int RunMonitoring(const CommandLine& cl, const SearchPlaces& places, const std::string& config) {
  if (cl.mode == CommandLine::Mode::kCheck) {
    Services* services = SetUpProgram(places);
    services->no_desktop = cl.service;
    return RunCheck(config, *services, ConsoleSink(), ErrorSink());
  }
  if (cl.mode == CommandLine::Mode::kStart) return Monitor(places, config);
  int code = 1;
  std::string error;
  // The log is closed before the manager hears that the service stopped.
  const auto body = [&](std::unique_ptr<ConsoleInput> stop) {
    const int ended = Monitor(places, config, std::move(stop));
    EndLog(ended);
    return ended;
  };
  if (RunAsService(body, code, error) != ServiceOutcome::kDone) {
    ErrorSink().Write("sentrel: " + error + "\n");
    return 1;
  }
  return code;
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
    case CommandLine::Mode::kService:
    case CommandLine::Mode::kInstallService:
    case CommandLine::Mode::kRemoveService:
      if (!ServiceManagerHere()) {
        ErrorSink().Write(
            "sentrel: --service, --install-service and --remove-service are for Windows;\n"
            "on Linux, run Sentrel as a systemd user service: systemctl --user enable --now "
            "sentrel\n");
        return 2;
      }
      if (cl.mode == CommandLine::Mode::kInstallService) return InstallTheService(cl);
      if (cl.mode == CommandLine::Mode::kRemoveService) return RemoveTheService();
      break;
    case CommandLine::Mode::kCheck:
    case CommandLine::Mode::kStart:
      break;
  }
  if (!StartLog(cl)) return 1;
  const std::string config = cl.config ? *cl.config : ChooseDefaultConfig(places);
  const int code = RunMonitoring(cl, places, config);
  EndLog(code);
  return code;
}

}  // namespace sentrel

#include "entry/app.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "actions/popup_action.h"
#include "config/path_remarks.h"

#include "loader/monitor_process.h"
#include "entry/check_mode.h"
#include "entry/command_line.h"
#include "entry/first_checks.h"
#include "entry/reloader.h"
#include "entry/explain_mode.h"
#include "lang/lang.h"
#include "lang/options.h"
#include "monitor/state_file.h"
#include "platform/clock.h"
#include "platform/console_input.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/process_requests.h"
#include "platform/regional.h"
#include "platform/service.h"
#include "platform/settings_store.h"
#include "platform/std_streams.h"
#include "shell/log_file.h"
#include "shell/search_paths.h"
#include "shell/services.h"
#include "shell/system_events.h"
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
// Beyond those waits the stop never takes longer than this, whatever a thread
// or a stream nobody reads is doing.
constexpr int kStopSlackMs = 1000;
// How long the last line may wait for a stream to take it.
constexpr int kLastLineMs = 200;

// A normal start shows this many remarks on the configuration; the check
// shows them all.
constexpr size_t kRemarksAtStart = 10;

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

// Items of a single pass that found their schedule window closed made no
// check: each says so, and when the window opens.
void SayClosedWindows(const std::vector<std::shared_ptr<BaseMonitoring>>& items,
                      MessageSink& out) {
  std::string text;
  for (const auto& item : items) {
    if (item->Status() != kStatusOutsideWindow) continue;
    text += item->OriginFile() + ":" + std::to_string(item->OriginLine()) + ": item \"" +
            item->FileName().Value() + "\": not checked, its window is closed (" +
            item->WindowOpening() + "; --ignore-window tries it now)\n";
  }
  if (!text.empty()) out.Write(text);
}

// One pass of every item: each checks once and runs its actions; the pass
// ends when all are done, or early on a stop (a signal or the exit key,
// read on a thread of its own since the wait for keys cannot time out).
// 0 when every action could do its work.
int RunSinglePass(MonitorProcess& monitors, std::unique_ptr<ConsoleInput> input,
                  const std::atomic<int>& failures) {
  struct Shared {
    std::atomic<bool> stopped{false};
    std::vector<std::shared_ptr<BaseMonitoring>> items;
  };
  auto shared = std::make_shared<Shared>();
  shared->items = monitors.Monitors();
  try {
    // The thread may still wait for a key when the process ends, so it owns
    // what it reads.
    std::thread([shared, keys = std::shared_ptr<ConsoleInput>(std::move(input))] {
      for (;;) {
        const int key = keys->WaitKey();
        if (key == ConsoleInput::kStop || key == 'x' || key == 'X') break;
      }
      shared->stopped = true;
      for (auto it = shared->items.rbegin(); it != shared->items.rend(); ++it) {
        (*it)->RequestTerminate();
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without it the pass still ends; only a stop cannot shorten it.
  }
  while (!monitors.WaitStopped(100)) {
    if (shared->stopped) {
      monitors.WaitStopped(kStopGraceMs);
      break;
    }
  }
  WaitForStateSaves(kStateSaveGraceMs);
  // A box the pass showed is part of its work: the pass ends once the user
  // closed it.
  while (!shared->stopped && PopupAction::OpenBoxes() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  SayClosedWindows(shared->items, ConsoleSink());
  // What a stop cut short, item by item: an item whose thread still runs
  // has not finished either.
  size_t checks_cut = 0, actions_cut = 0;
  for (const auto& item : shared->items) {
    const auto& progress = item->progress();
    if (progress.pass_done.load(std::memory_order_acquire)) continue;
    if (progress.first_check_done.load(std::memory_order_acquire)) {
      ++actions_cut;
    } else if (item->Status() != kStatusOutsideWindow && item->Status() != kStatusPaused) {
      ++checks_cut;
    }
  }
  if (shared->stopped && checks_cut + actions_cut > 0) {
    ErrorSink().Write(
        checks_cut > 0
            ? "sentrel: stopped before every item had made its check\n"
            : "sentrel: stopped while actions ran: they were cut short, and those not yet "
              "begun did not run\n");
    return 1;
  }
  return failures.load() == 0 ? 0 : 1;
}

// `service_stop`, when given: run as a service, stopped by the manager, and
// without a desktop.
int Monitor(const SearchPlaces& places, const std::string& config, const CommandLine& cl,
            std::unique_ptr<ConsoleInput> service_stop = nullptr) {
  const bool single_pass = cl.once;
  const bool watch_config = !cl.no_reload;
  // The signals are taken already (RunConsoleProgram): a stop ends the
  // program at any moment from here on, the opening of the configuration
  // included.
  MessageSink& out = ConsoleSink();
  const bool service = service_stop != nullptr;
  // A service's log is read line by line: no banner, nothing about keys.
  if (!service) {
    out.Write(std::string(kProgramName) + " " + kProgramVersion + " [console version]\n\n");
  }
  Services* services = SetUpProgram(places);
  services->dry_run = cl.dry_run;
  services->no_desktop = service_stop != nullptr;
  if (cl.dry_run) out.Write("Dry run: actions say what they would do, and do nothing.\n");
  if (cl.ignore_window) out.Write("Schedule windows are ignored: every item checks now.\n");

  // Keys are read from before the load so that the terminal is in key mode
  // (no echo) from the start, and a stop signal during the load is not lost.
  std::unique_ptr<ConsoleInput> input = service_stop ? std::move(service_stop) : OpenConsoleInput();
  auto monitors = std::make_unique<MonitorProcess>(*services);
  monitors->set_single_pass(single_pass);
  monitors->set_ignore_window(cl.ignore_window);
  // Never destroyed, like the services that point to it.
  auto* failures = new std::atomic<int>(0);
  services->failed_actions = failures;
  // Strict: nothing may run before the whole file is known to be sound.
  monitors->set_autostart(!cl.strict);
  monitors->set_strict(cl.strict);
  Diagnostics notes;
  const auto load_start = std::chrono::steady_clock::now();
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
  if (service) {
    ReportServiceRunning();
    SystemEvent(EventKind::kInformation, std::string(kProgramName) + " " + kProgramVersion +
                                             " started on \"" + config + "\"");
  }
  if (single_pass) {
    out.Write(InsertPath(Strings().OemTextAt(kLngLoaded), config) + "\n");
    return RunSinglePass(*monitors, std::move(input), *failures);
  }
  out.Write(InsertPath(Strings().OemTextAt(kLngLoaded), config) + "\n" +
            (service ? std::string("Monitoring started.") : Strings().OemTextAt(kLngStarted)) +
            "\n");
  const auto first_items = monitors->Monitors();
  ReportFirstChecks({first_items.begin(), first_items.end()}, out,
                    StdStreamIsTerminal(StdStream::kOutput), load_start);

  Reloader reloader(*monitors, config, out, ErrorSink());
  // Without a watch the file is still read again on SIGHUP.
  if (watch_config && !reloader.WatchFile()) {
    ErrorSink().Write(config + ": its folder cannot be watched; it is read again on SIGHUP only\n");
  }
  for (;;) {
    const int key = input->WaitKey();
    if (key == ConsoleInput::kReload) {
      reloader.Request();
      continue;
    }
    if (key == ConsoleInput::kStop || key == 'x' || key == 'X') break;
    if (key == ConsoleInput::kCheckNow) {
      for (const auto& item : monitors->Monitors()) item->RequestCheck();
    }
  }
  EndProcessWithin(kStopGraceMs + kStateSaveGraceMs + kStopSlackMs, 0);
  reloader.Stop();
  monitors->StopAll();
  monitors->WaitStopped(kStopGraceMs);
  WaitForStateSaves(kStateSaveGraceMs);
  // Said if the output takes it; a reader that has gone away holds nothing.
  out.WriteWithin("Monitoring stopped.\n", kLastLineMs);
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
  // Registered all the same: the administrator may write them next.
  if (StatTarget(config).type != EntryType::kFile) {
    ErrorSink().Write("sentrel: warning: the configuration \"" + config +
                      "\" does not exist yet: the service cannot start without it\n");
  }
  if (cl.log) {
    const std::string log = AbsolutePath(*cl.log);
    const std::string folder = log.substr(0, FindLastSeparator(log));
    if (!FolderExists(folder)) {
      ErrorSink().Write("sentrel: warning: the log's folder \"" + folder +
                        "\" does not exist: the service cannot start without it\n");
    }
  }
  std::string error;
  if (InstallService(arguments, error) != ServiceOutcome::kDone) {
    ErrorSink().Write("sentrel: " + error + "\n");
    return 1;
  }
  if (!error.empty()) ErrorSink().Write("sentrel: warning: " + error + "\n");
  ConsoleSink().Write("The Sentrel service is registered: it starts with Windows and reads \"" +
                      config + "\".\nStart it now with: net start Sentrel\n");
  return 0;
}

// What --check --service reads without CONFIG: the configuration of the
// registered service, else the one --install-service would register.
std::string ServiceConfig() {
  std::vector<std::string> arguments;
  if (RegisteredServiceArguments(arguments)) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
      if (arguments[i] == "--") return arguments[i + 1];
    }
  }
  return SystemConfigFolder() + kPathSeparator + "default.mon";
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

// An installer's steps around replacing the program's files.
int PauseOrResume(CommandLine::Mode mode) {
  std::string error;
  const ServiceOutcome done = mode == CommandLine::Mode::kPauseService ? PauseService(error)
                                                                       : ResumeService(error);
  if (done != ServiceOutcome::kDone) {
    ErrorSink().Write("sentrel: " + error + "\n");
    return 1;
  }
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

int RunMonitoring(const CommandLine& cl, const SearchPlaces& places, const std::string& config,
                  bool logging) {
  if (cl.mode == CommandLine::Mode::kCheck) {
    Services* services = SetUpProgram(places);
    services->no_desktop = cl.service;
    return RunCheck(config, *services, ConsoleSink(), ErrorSink());
  }
  if (cl.mode == CommandLine::Mode::kExplain) {
    return RunExplain(cl.explain, config, *SetUpProgram(places), ConsoleSink(), ErrorSink());
  }
  if (cl.mode == CommandLine::Mode::kStart) return Monitor(places, config, cl);
  int code = 1;
  std::string error;
  // The log is closed before the manager hears that the service stopped.
  const auto body = [&](std::unique_ptr<ConsoleInput> stop) {
    SystemEventsReady();
    // Without its log the service does not start: the reason is in the
    // event log, and the manager hears of a failed start.
    const int ended = logging ? Monitor(places, config, cl, std::move(stop)) : 1;
    SystemEvent(ended == 0 ? EventKind::kInformation : EventKind::kError,
                std::string(kProgramName) + " ended with exit code " + std::to_string(ended));
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
    case CommandLine::Mode::kPauseService:
    case CommandLine::Mode::kResumeService:
      if (!ServiceManagerHere()) {
        ErrorSink().Write(
            "sentrel: --service and the other service options are for Windows;\n"
            "on Linux, run Sentrel as a systemd user service: systemctl --user enable --now "
            "sentrel\n");
        return 2;
      }
      if (cl.mode == CommandLine::Mode::kInstallService) return InstallTheService(cl);
      if (cl.mode == CommandLine::Mode::kRemoveService) return RemoveTheService();
      if (cl.mode != CommandLine::Mode::kService) return PauseOrResume(cl.mode);
      break;
    case CommandLine::Mode::kCheck:
    case CommandLine::Mode::kExplain:
    case CommandLine::Mode::kStart:
      break;
  }
  // The one place that takes the stop and reload signals, before any thread
  // exists (the log's writer is the first): a thread started earlier would
  // take them with their default actions, which end the process. A check and
  // an explanation leave them as they are, so that Ctrl-C ends them at once.
  if (cl.mode == CommandLine::Mode::kStart || cl.mode == CommandLine::Mode::kService) {
    // A one pass ended by a stop did not do its work, however it ends.
    if (cl.once) SetForcedStopExitCode(1);
    ListenForProcessRequests();
  }
  if (!cl.ignored.empty()) {
    std::string names;
    for (const std::string& name : cl.ignored) {
      names += (names.empty() ? "\"" : ", \"") + name + "\"";
    }
    ErrorSink().Write("sentrel: warning: one configuration is read, \"" + *cl.config +
                      "\"; ignored: " + names + "\n");
  }
  const bool service_check =
      cl.mode == CommandLine::Mode::kCheck && cl.service && !cl.config && ServiceManagerHere();
  if (!cl.config && !service_check && !DefaultConfigFound(places)) {
    // Which file the message below names says little to someone who did
    // not know there was a search.
    std::string text = "sentrel: no configuration named, and none found in:\n";
    for (const std::string& place : DefaultConfigCandidates(places)) text += "  " + place + "\n";
    ErrorSink().Write(text + "Name one (sentrel CONFIG); \"sentrel --help\" says more.\n");
  }
  if (cl.mode == CommandLine::Mode::kService) HoldSystemEvents();
  // A service that cannot log still reports its failed start to the manager.
  const bool logging = StartLog(cl);
  if (!logging && cl.mode != CommandLine::Mode::kService) return 1;
  const std::string config = cl.config     ? *cl.config
                             : service_check ? ServiceConfig()
                                             : ChooseDefaultConfig(places);
  const int code = RunMonitoring(cl, places, config, logging);
  EndLog(code);
  return code;
}

}  // namespace sentrel

#include "entry/command_line.h"

#include "entry/app.h"
#include "platform/console_input.h"

namespace sentrel {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool help = false, version = false, check = false, options_ended = false;
  bool explain = false;
  bool install = false, remove = false, pause = false, resume = false;
  auto wrong = [&cl](std::string error) {
    if (cl.error.empty()) cl.error = std::move(error);
  };
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    // A lone "-" is a name, as it is for most programs.
    if (!options_ended && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") {
        options_ended = true;
      } else if (arg == "-h" || arg == "--help") {
        help = true;
      } else if (arg == "--version") {
        version = true;
      } else if (arg == "--check") {
        check = true;
      } else if (arg == "--timestamps") {
        cl.timestamps = true;
      } else if (arg == "--once") {
        cl.once = true;
      } else if (arg == "--ignore-window") {
        cl.ignore_window = true;
      } else if (arg == "--no-reload") {
        cl.no_reload = true;
      } else if (arg == "--dry-run") {
        cl.dry_run = true;
      } else if (arg == "--strict") {
        cl.strict = true;
      } else if (arg == "--explain") {
        if (i + 1 < args.size()) {
          explain = true;
          cl.explain = args[++i];
        } else {
          wrong("--explain needs the path of a file or folder");
        }
      } else if (arg == "--service") {
        cl.service = true;
      } else if (arg == "--install-service") {
        install = true;
      } else if (arg == "--remove-service") {
        remove = true;
      } else if (arg == "--pause-service") {
        pause = true;
      } else if (arg == "--resume-service") {
        resume = true;
      } else if (arg == "--log" || arg.rfind("--log=", 0) == 0) {
        if (arg != "--log") {
          cl.log = arg.substr(6);
        } else if (i + 1 < args.size()) {
          cl.log = args[++i];
        } else {
          wrong("--log needs a file name");
        }
        if (cl.log && cl.log->empty()) wrong("--log needs a file name");
      } else {
        wrong("unknown option \"" + arg + "\"");
      }
      continue;
    }
    // A second name has always been ignored, and scripts rely on that.
    if (cl.config) {
      cl.ignored.push_back(arg);
      continue;
    }
    cl.config = arg;
  }
  // Monitoring that ignored the windows would do outside them, for good,
  // what they keep to their hours; one pass is a trial.
  if (cl.ignore_window && !cl.once) wrong("--ignore-window is for one pass: use it with --once");
  if (!cl.error.empty()) {
    cl.mode = CommandLine::Mode::kUsageError;
  } else if (help) {
    cl.mode = CommandLine::Mode::kHelp;
  } else if (version) {
    cl.mode = CommandLine::Mode::kVersion;
  } else if (explain) {
    cl.mode = CommandLine::Mode::kExplain;
  } else if ((install || remove || pause || resume) &&
             int(install) + int(remove) + int(pause) + int(resume) + int(check) +
                     int(cl.service) > 1) {
    cl.mode = CommandLine::Mode::kUsageError;
    cl.error = pause || resume
                   ? "--pause-service and --resume-service take no --check, --service or other "
                     "service option"
                   : "--install-service and --remove-service take no --check, --service or each "
                     "other";
  } else if (install) {
    cl.mode = CommandLine::Mode::kInstallService;
  } else if (remove) {
    cl.mode = CommandLine::Mode::kRemoveService;
  } else if (pause) {
    cl.mode = CommandLine::Mode::kPauseService;
  } else if (resume) {
    cl.mode = CommandLine::Mode::kResumeService;
  } else if (check) {
    cl.mode = CommandLine::Mode::kCheck;
  } else if (cl.service) {
    cl.mode = CommandLine::Mode::kService;
  }
  return cl;
}

std::string UsageText(const std::vector<std::string>& default_places) {
  std::string text =
      "Usage: sentrel [OPTIONS] [CONFIG]\n"
      "\n"
      "Monitors the files and folders that the configuration file CONFIG lists,\n"
      "until you press x " + StopWaysText() + ".\n"
      "CONFIG is read again " + ReloadWaysText() + ".\n"
      "\n"
      "Options:\n"
      "  -h, --help        show this help and exit\n"
      "      --version     show the version and exit\n"
      "      --check       read CONFIG, list its items and every problem; start nothing\n"
      "      --explain PATH\n"
      "                    say for each item whether it would report PATH, and why\n"
      "      --timestamps  begin every line Sentrel writes with the local date and time\n"
      "      --once        check each item once, run its actions, wait for them, exit\n"
      "      --ignore-window  with --once: check every item now, whatever its\n"
      "                    schedule window (Days, MonthDays, TimeInterval) says\n"
      "      --no-reload   do not read CONFIG again when it is saved\n"
      "      --dry-run     check and report as usual; actions say what they would do\n"
      "                    and change, start, show or play nothing\n"
      "      --strict      start nothing when --check would report a problem (exit 1)\n"
      "      --log FILE    append every line Sentrel writes, with its time and level,\n"
      "                    to FILE\n"
      "      --service     (Windows) run as the Sentrel service; with --check: warn of\n"
      "                    actions a service cannot do\n"
      "      --install-service  (Windows) register the Sentrel service for CONFIG\n"
      "      --remove-service   (Windows) unregister the Sentrel service\n"
      "      --pause-service    (Windows) stop the service for an upgrade, noting that\n"
      "                         it ran\n"
      "      --resume-service   (Windows) start it again if the pause stopped it\n"
      "      --            end of options: the rest is CONFIG, even if it begins with -\n"
      "\n"
      "Without CONFIG, the first of these that exists is read:\n";
  for (const std::string& place : default_places) text += "  " + place + "\n";
  text +=
      "\n"
      "Exit status: 0 when stopped (--check: nothing to report; --explain: some\n"
      "item would report PATH), 1 when CONFIG cannot be loaded (--check: problems\n"
      "found; --explain: no item would report PATH; --once: an action could not\n"
      "do its work, a program it waited for exited non-zero or was killed, or a\n"
      "stop cut the pass short), 2 for a wrong command line.\n";
  return text;
}

std::string VersionText() { return std::string(kProgramName) + " " + kProgramVersion; }

}  // namespace sentrel

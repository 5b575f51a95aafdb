#include "entry/command_line.h"

#include "entry/app.h"

namespace sentrel {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool help = false, version = false, check = false, options_ended = false;
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
      } else if (arg == "--no-reload") {
        cl.no_reload = true;
      } else if (arg == "--dry-run") {
        cl.dry_run = true;
      } else if (arg == "--strict") {
        cl.strict = true;
      } else {
        wrong("unknown option \"" + arg + "\"");
      }
      continue;
    }
    if (cl.config) {
      wrong("one configuration file only: \"" + arg + "\" would be a second one");
      continue;
    }
    cl.config = arg;
  }
  if (!cl.error.empty()) {
    cl.mode = CommandLine::Mode::kUsageError;
  } else if (help) {
    cl.mode = CommandLine::Mode::kHelp;
  } else if (version) {
    cl.mode = CommandLine::Mode::kVersion;
  } else if (check) {
    cl.mode = CommandLine::Mode::kCheck;
  }
  return cl;
}

std::string UsageText(const std::vector<std::string>& default_places) {
  std::string text =
      "Usage: sentrel [OPTIONS] [CONFIG]\n"
      "\n"
      "Monitors the files and folders that the configuration file CONFIG lists,\n"
      "until you press x or it receives SIGINT, SIGTERM, SIGHUP or SIGQUIT.\n"
      "CONFIG is read again when it is saved, and on SIGHUP without a terminal.\n"
      "\n"
      "Options:\n"
      "  -h, --help        show this help and exit\n"
      "      --version     show the version and exit\n"
      "      --check       read CONFIG, list its items and every problem; start nothing\n"
      "      --timestamps  begin every line Sentrel writes with the local date and time\n"
      "      --once        check each item once, run its actions, wait for them, exit\n"
      "      --no-reload   do not read CONFIG again when it is saved\n"
      "      --dry-run     check and report as usual; actions say what they would do\n"
      "                    and change, start, show or play nothing\n"
      "      --strict      start nothing when --check would report a problem (exit 1)\n"
      "      --            end of options: the rest is CONFIG, even if it begins with -\n"
      "\n"
      "Without CONFIG, the first of these that exists is read:\n";
  for (const std::string& place : default_places) text += "  " + place + "\n";
  text +=
      "\n"
      "Exit status: 0 when stopped (--check: nothing to report), 1 when CONFIG\n"
      "cannot be loaded (--check: problems found; --once: an action could not do\n"
      "its work), 2 for a wrong command line.\n";
  return text;
}

std::string VersionText() { return std::string(kProgramName) + " " + kProgramVersion; }

}  // namespace sentrel

#include "entry/command_line.h"

#include "entry/app.h"

namespace sentrel {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  bool help = false, version = false, check = false, options_ended = false;
  bool install = false, remove = false;
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
      } else if (arg == "--service") {
        cl.service = true;
      } else if (arg == "--install-service") {
        install = true;
      } else if (arg == "--remove-service") {
        remove = true;
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
  } else if ((install || remove) && int(install) + int(remove) + int(check) + int(cl.service) > 1) {
    cl.mode = CommandLine::Mode::kUsageError;
    cl.error = "--install-service and --remove-service take no --check, --service or each other";
  } else if (install) {
    cl.mode = CommandLine::Mode::kInstallService;
  } else if (remove) {
    cl.mode = CommandLine::Mode::kRemoveService;
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
      "until you press x or it receives SIGINT, SIGTERM, SIGHUP or SIGQUIT.\n"
      "\n"
      "Options:\n"
      "  -h, --help        show this help and exit\n"
      "      --version     show the version and exit\n"
      "      --check       read CONFIG, list its items and every problem in it, start nothing\n"
      "      --timestamps  begin every line Sentrel writes with the local date and time\n"
      "      --log FILE    append every line Sentrel writes, with its time and level,\n"
      "                    to FILE\n"
      "      --service     (Windows) run as the Sentrel service; with --check: warn of\n"
      "                    actions a service cannot do\n"
      "      --install-service  (Windows) register the Sentrel service for CONFIG\n"
      "      --remove-service   (Windows) unregister the Sentrel service\n"
      "      --            end of options: what follows is CONFIG, even if it begins with -\n"
      "\n"
      "Without CONFIG, the first of these that exists is read:\n";
  for (const std::string& place : default_places) text += "  " + place + "\n";
  text +=
      "\n"
      "Exit status: 0 when stopped (--check: nothing to report), 1 when CONFIG\n"
      "cannot be loaded (--check: problems found), 2 for a wrong command line.\n";
  return text;
}

std::string VersionText() { return std::string(kProgramName) + " " + kProgramVersion; }

}  // namespace sentrel

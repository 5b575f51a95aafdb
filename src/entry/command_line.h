#ifndef SENTREL_ENTRY_COMMAND_LINE_H_
#define SENTREL_ENTRY_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

namespace sentrel {

// What the user asked for on the command line: sentrel [OPTIONS] [CONFIG].
struct CommandLine {
  enum class Mode {
    kStart, kCheck, kExplain, kHelp, kVersion, kUsageError,
    kService, kInstallService, kRemoveService, kPauseService, kResumeService  // Windows only
  };
  Mode mode = Mode::kStart;
  // Every line the program writes begins with the local date and time.
  bool timestamps = false;
  // Each item checks once, runs its actions, and the program ends.
  bool once = false;
  // With once: every item checks whatever its schedule window says.
  bool ignore_window = false;
  // The configuration file is not watched for saves.
  bool no_reload = false;
  // Actions say what they would do, and do nothing.
  bool dry_run = false;
  // A configuration with any problem the check would report starts nothing.
  bool strict = false;
  // --service: run under the Windows service manager (with --check: warn of
  // what a service cannot do).
  bool service = false;
  // --log FILE: every line written also goes to FILE.
  std::optional<std::string> log;
  // The configuration named; none means the default places.
  std::optional<std::string> config;
  // Further names after the configuration: not used, and the user is told.
  std::vector<std::string> ignored;
  // For kExplain: the path whose fate each item explains.
  std::string explain;
  // For kUsageError: what was wrong, as one line.
  std::string error;
};

// Reads `args` (args[0] is the program). Options may stand before or after
// the configuration; "--" ends them. A wrong command line wins over --help.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The usage: every option on one line, and where the configuration is
// looked for without an argument (`default_places`, in order).
std::string UsageText(const std::vector<std::string>& default_places);

// "Sentrel 1.4.0": the program and the version it was built as.
std::string VersionText();

}  // namespace sentrel

#endif  // SENTREL_ENTRY_COMMAND_LINE_H_

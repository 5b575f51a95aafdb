#include "actions/exec_action.h"

#include "actions/macros.h"
#include "config/path_remarks.h"
#include "lang/lang.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '+' || c == '-' || c == '.';
}

bool ExistsRelativeTo(const std::string& name, const std::string& dir) {
  if (name.empty()) return false;
  if (IsAbsolutePath(name) || dir.empty()) return StatTarget(name).exists();
  std::string path = dir;
  if (!IsPathSeparator(path.back())) path.push_back(kPathSeparator);
  return StatTarget(path + name).exists();
}

// An argument as a shell would take it back: quoted when it holds a blank,
// a quote, what a shell expands, or nothing at all.
std::string Shown(const std::string& arg) { return ShellQuoted(arg, " \t'\"\\$`;&|<>*?"); }

// How long a program killed by a stop signal leaves for the stop that the
// same signal brings us: it lands within milliseconds, and a program killed
// otherwise only holds its item this long.
constexpr int kStopArrivalMs = 2000;

// The number both systems give a start whose program is not there (ENOENT,
// ERROR_FILE_NOT_FOUND).
constexpr int kNotFound = 2;

// What a dry run says instead of a start; an error number as the start
// would have failed with, or 0.
int DescribeStart(const RunContext& ctx, const std::vector<std::string>& argv, bool document,
                  const ProcessOptions& options) {
  if (!FolderExists(options.directory)) return kNotFound;
  std::string line;
  if (document) {
    line = "open " + Shown(argv.front());
  } else {
    const std::string program = FindProgram(argv.front(), options.directory);
    if (program.empty()) return kNotFound;
    line = "start " + Shown(program);
    for (size_t i = 1; i < argv.size(); ++i) line += " " + Shown(argv[i]);
  }
  if (!options.directory.empty()) line += " (in " + options.directory + ")";
  ctx.Would(line);
  return 0;
}

// The program's arguments for the files from `start` on: `batch` files (0:
// all), or as many of them as the system takes on one command line. `used`
// gets the number of records taken; 0 when not even the first one fits.
std::vector<std::string> ArgumentsFor(const std::string& command, const std::string& format,
                                      const FileList& files, int start, int batch,
                                      const Services& services, int& used) {
  auto build = [&](int count, int& took) {
    MarkedText params;
    took = ExpandForBatch(files, params, format, start, count, services);
    std::vector<std::string> argv = SplitArguments(params.text, params.literal);
    argv.insert(argv.begin(), command);
    return argv;
  };
  std::vector<std::string> argv = build(batch, used);
  if (ArgumentsFit(argv)) return argv;
  // The most files that fit, found by halving: fewer files, shorter line.
  std::vector<std::string> best;
  int best_used = 0;
  int low = 1, high = used - 1;
  while (low <= high) {
    const int mid = low + (high - low) / 2;
    int took = 0;
    std::vector<std::string> tried = build(mid, took);
    if (ArgumentsFit(tried)) {
      best = std::move(tried);
      best_used = took;
      low = mid + 1;
    } else {
      high = mid - 1;
    }
  }
  used = best_used;
  return best;
}

}  // namespace

ExecAction::ExecAction() : Action(kLngExecute) {
  command_ = AddParam<StringParam>("Command", "");
  params_ = AddParam<StringParam>("Params", "");
  dir_ = AddParam<StringParam>("Dir", "");
  show_ = AddParam<IntParam>("Show", 0, 0, 3);
  wait_ = AddParam<BoolParam>("Wait", false);
  multi_args_ = AddParam<BoolParam>("MultiArgs", true);
  max_files_ = AddParam<IntParam>("MaxFiles", 0, 0, 2147483647);
}

bool LooksLikeAddress(const std::string& command) {
  const size_t colon = command.find(':');
  // Two letters at least, so that a drive letter is no scheme.
  if (colon == std::string::npos || colon < 2) return false;
  const char first = command[0];
  if (!((first >= 'a' && first <= 'z') || (first >= 'A' && first <= 'Z'))) return false;
  for (size_t i = 1; i < colon; ++i) {
    if (!IsSchemeChar(command[i])) return false;
  }
  return true;
}

bool OpensWithDesktop(const std::string& command, const std::string& dir) {
  return !IsExecutableProgram(command, dir) &&
         (LooksLikeAddress(command) || ExistsRelativeTo(command, dir));
}

void ExecAction::Run(const FileList& files, const RunContext& ctx) {
  if (command_->Value().empty()) return;
  const std::string command = ExpandEnvironmentReferences(command_->Value());
  ProcessOptions options;
  options.directory = ExpandEnvironmentReferences(dir_->Value());
  options.null_streams = show_->Value() == kShowHidden;
  options.show = show_->Value();
  // A program, or a name that is nothing at all: then the start fails and
  // nothing happens. A document or an address takes no parameters.
  const bool document = OpensWithDesktop(command, options.directory);
  const int batch = multi_args_->Value() ? max_files_->Value() : 1;
  const int total = static_cast<int>(files.size());

  // A run that starts nothing says so once, with the first reason.
  std::string first_failure;
  int failures = 0, starts = 0;
  int start = 0;
  do {
    int error = 0;
    SpawnedProcess child;
    std::vector<std::string> argv;
    if (document) {
      MarkedText params;
      start += ExpandForBatch(files, params, params_->Value(), start, batch, ctx.services());
      argv.push_back(command);
    } else {
      int used = 0;
      argv = ArgumentsFor(command, params_->Value(), files, start, batch, ctx.services(), used);
      if (used == 0) {
        // One file whose arguments alone are too long: it is passed over,
        // and said, rather than handed on cut.
        std::string name = start < total ? files[start].Name : std::string();
        if (name.size() > 120) {
          name = name.substr(0, 100) + "... (" + std::to_string(name.size()) + " bytes)";
        }
        ctx.ReportFor(*this).Failed("the arguments for \"" + name +
                                    "\" are longer than one command line can hold;"
                                    " that file was left out");
        ++start;
        // No later start can take it either.
        ctx.SetFilesDone(static_cast<size_t>(start));
        continue;
      }
      start += used;
    }
    if (ctx.DryRun()) {
      error = DescribeStart(ctx, argv, document, options);
    } else if (document) {
      child = OpenWithDesktop(command, options, &error);
    } else {
      child = StartProcess(argv, options, &error);
    }
    ++starts;
    // A started program runs on when a stop ends the wait for it: its files
    // are done with.
    ctx.SetFilesDone(static_cast<size_t>(start));
    // A document opened by a program that was running already leaves no
    // process behind, and no error.
    if (!child.valid() && error != 0 && failures++ == 0) {
      first_failure = document ? "cannot open \"" + command + "\": "
                               : "cannot start \"" + command + "\": ";
      const std::string trouble = FolderTrouble(options.directory);
      first_failure += !trouble.empty()
                           ? "the folder \"" + options.directory + "\" (Dir) " + trouble
                           : ErrorText(error);
    }
    if (wait_->Value() && child.valid() &&
        child.Wait([&ctx] { return ctx.StopRequested(); }) ==
            SpawnedProcess::WaitResult::kExited) {
      // A program waited for is part of the action's work: when it fails,
      // so does the action (-1: how it ended is not known).
      const int status = child.exit_status();
      if (status != 0 && status != -1) {
        if (failures++ == 0) first_failure = "\"" + command + "\" " + ExitStatusText(status);
        // Killed by a stop sent to the whole process group, as a terminal's
        // Ctrl-C or a service manager sends it: our own stop is on its way,
        // and the next program or action must not begin before it lands.
        if (EndedByStopSignal(status)) ctx.WaitOrStop(kStopArrivalMs);
      }
    }
    // A program still running when the handle goes is reaped in the
    // background. After a stop request no further batch is started.
  } while (start < total && !ctx.StopRequested());
  if (failures > 0) {
    if (starts > 1) {
      first_failure += " (" + std::to_string(failures) + " of " + std::to_string(starts) +
                       " starts failed)";
    }
    ctx.ReportFor(*this).Failed(first_failure);
  }
}

void ExecAction::Review(Diagnostics& notes) const {
  const std::string& written = command_->Value();
  if (written.empty()) return;
  const std::string command = ExpandEnvironmentReferences(written);
  const std::string dir = ExpandEnvironmentReferences(dir_->Value());
  if (const std::string trouble = FolderTrouble(dir); !trouble.empty()) {
    Note(notes, *dir_, "Dir: folder \"" + dir + "\" " + trouble + EnvironmentHint(dir) +
                          "; no program can be started there");
    return;
  }
  if (IsExecutableProgram(command, dir)) return;
  if (LooksLikeAddress(command) || ExistsRelativeTo(command, dir)) {
    if (!params_->Value().empty()) {
      Note(notes, *params_, "Params: \"" + command +
                                "\" is a document or an address, not a program: it is opened "
                                "without parameters, so these are dropped");
    }
    return;
  }
  std::string message = "Command: \"" + command + "\" is neither a program found in PATH nor a file";
  if (StartsWithTilde(command)) message += " (\"~\" is not expanded here)";
  Note(notes, *command_, message + "; it cannot be started");
}

std::string ExecAction::Describe() const { return command_->Value() + " " + params_->Value(); }

}  // namespace sentrel

#include "actions/exec_action.h"

#include <filesystem>

#include "actions/macros.h"
#include "config/path_remarks.h"
#include "lang/lang.h"
#include "platform/process.h"

namespace sentrel {
namespace {

// Opens a document, a folder or an address with the program the desktop
// associates with it.
constexpr const char* kDesktopOpener = "xdg-open";

bool IsSchemeChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '+' || c == '-' || c == '.';
}

bool ExistsRelativeTo(const std::string& name, const std::string& dir) {
  std::error_code ec;
  std::filesystem::path path(name);
  if (path.is_relative() && !dir.empty()) path = std::filesystem::path(dir) / path;
  return std::filesystem::exists(path, ec);
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

std::vector<std::string> CommandLineFor(const std::string& command, const std::string& dir,
                                        std::vector<std::string> params) {
  const bool open_with_desktop =
      !IsExecutableProgram(command, dir) &&
      (LooksLikeAddress(command) || ExistsRelativeTo(command, dir));
  if (open_with_desktop) return {kDesktopOpener, command};
  // A program, or a name that is nothing at all: then the start fails and
  // nothing happens.
  std::vector<std::string> argv;
  argv.reserve(params.size() + 1);
  argv.push_back(command);
  for (std::string& p : params) argv.push_back(std::move(p));
  return argv;
}

void ExecAction::Run(const FileList& files, const RunContext& ctx) {
  if (command_->Value().empty()) return;
  const std::string command = ExpandEnvironmentReferences(command_->Value());
  ProcessOptions options;
  options.directory = ExpandEnvironmentReferences(dir_->Value());
  options.null_streams = show_->Value() == kShowHidden;
  const int batch = multi_args_->Value() ? max_files_->Value() : 1;
  const int total = static_cast<int>(files.size());

  // A run that starts nothing says so once, with the first reason.
  std::string first_failure;
  int failures = 0, starts = 0;
  int start = 0;
  do {
    MarkedText params;
    start += ExpandForBatch(files, params, params_->Value(), start, batch, ctx.services());
    const std::vector<std::string> argv =
        CommandLineFor(command, options.directory, SplitArguments(params.text, params.literal));
    int error = 0;
    SpawnedProcess child = StartProcess(argv, options, &error);
    ++starts;
    if (!child.valid() && failures++ == 0) {
      first_failure = argv[0] == command ? "cannot start \"" + command + "\": "
                                         : "cannot open \"" + command + "\" with " + argv[0] + ": ";
      first_failure += !FolderExists(options.directory)
                           ? "the folder \"" + options.directory + "\" (Dir) does not exist"
                           : ErrorText(error);
    }
    if (wait_->Value() && child.valid()) {
      child.Wait([&ctx] { return ctx.StopRequested(); });
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
  if (!FolderExists(dir)) {
    Note(notes, *dir_, "Dir: folder \"" + dir + "\" does not exist" + EnvironmentHint(dir) +
                          "; no program can be started there");
    return;
  }
  if (IsExecutableProgram(command, dir) || LooksLikeAddress(command) ||
      ExistsRelativeTo(command, dir)) {
    return;
  }
  std::string message = "Command: \"" + command + "\" is neither a program found in PATH nor a file";
  if (StartsWithTilde(command)) message += " (\"~\" is not expanded here)";
  Note(notes, *command_, message + "; it cannot be started");
}

std::string ExecAction::Describe() const { return command_->Value() + " " + params_->Value(); }

}  // namespace sentrel

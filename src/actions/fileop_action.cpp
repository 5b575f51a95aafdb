#include "actions/fileop_action.h"

#include "actions/macros.h"
#include "lang/lang.h"
#include "platform/dialogs.h"

namespace sentrel {
namespace {

// Asks the user in a question dialog of the graphical session. Without a
// session, or when no dialog can be shown, nobody can be asked and the
// answer is no.
class DialogConfirmer final : public Confirmer {
 public:
  DialogConfirmer(const RunContext& ctx, std::string display)
      : ctx_(ctx), display_(std::move(display)) {}

  bool Confirm(const std::string& question) override {
    if (display_.empty()) return false;
    DialogRequest request;
    request.title = Strings().TextAt(kLngFileOp);
    request.text = question;
    // A Wayland-only session has no X display name to pass on: the dialog
    // finds the session by itself.
    if (display_.find(':') != std::string::npos) request.display = display_;
    return AskQuestion(request, [this] { return ctx_.StopRequested(); }) == DialogAnswer::kYes;
  }

 private:
  const RunContext& ctx_;
  std::string display_;
};

}  // namespace

FileOpAction::FileOpAction() : Action(kLngFileOp) {
  op_index_ = AddParam<IntParam>("OpIndex", 0, 0, 3);
  op_source_ = AddParam<StringParam>("OpSource", "");
  op_destination_ = AddParam<StringParam>("OpDestination", "");
  allow_undo_ = AddParam<BoolParam>("AllowUndo", false);
  show_progress_ = AddParam<BoolParam>("ShowProgress", true);
  yes_to_all_ = AddParam<BoolParam>("YesToAll", true);
  files_only_ = AddParam<BoolParam>("OpFilesOnly", false);
  single_arg_ = AddParam<BoolParam>("OpSingleArg", false);
}

int FileOpAction::Operation() const {
  static constexpr int kByIndex[] = {kFoCopy, kFoMove, kFoRename, kFoDelete};
  return kByIndex[op_index_->Value()];
}

uint16_t FileOpAction::Flags() const {
  return FileOpFlagsFor(files_only_->Value(), allow_undo_->Value(), show_progress_->Value(),
                        yes_to_all_->Value(), single_arg_->Value());
}

void FileOpAction::Run(const FileList& files, const RunContext& ctx) {
  Services& services = ctx.services();
  DialogConfirmer confirmer(ctx, display_ ? *display_ : SessionDisplay());
  FileOpEnvironment env;
  env.messages = services.messages;
  env.confirmer = &confirmer;
  env.trash_dir = trash_dir_.empty() ? UserTrashDir() : trash_dir_;
  env.clock = services.clock;

  const int op = Operation();
  const int batch = single_arg_->Value() ? 1 : 0;
  int start = 0;
  do {
    std::string source, destination;
    int used = ExpandForBatch(files, source, op_source_->Value(), start, batch, services);
    ExpandForBatch(files, destination, op_destination_->Value(), start, batch, services);
    start += used;
    if (source.empty() || (op != kFoDelete && destination.empty())) continue;
    FileOpRequest request;
    request.op = op;
    request.sources = SplitOpList(source);
    request.destinations = SplitOpList(destination);
    request.flags = Flags();
    PerformFileOperation(request, env);
    // One operation per file can be a long run; a stop ends it between
    // files, never inside one.
  } while (start < static_cast<int>(files.size()) && !ctx.StopRequested());
}

std::string FileOpAction::Describe() const {
  static constexpr int kLabels[] = {kLngCopy, kLngMove, kLngRename, kLngDelete};
  const int index = op_index_->Value();
  std::string text = Strings().TextAt(kLabels[index]) + op_source_->Value() + " ";
  if (index != 3) text += op_destination_->Value();
  return text;
}

}  // namespace sentrel

#include "actions/fileop_action.h"

#include <map>

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

constexpr int kLabels[] = {kLngCopy, kLngMove, kLngRename, kLngDelete};

// The entries of an expanded destination; a ";" that a file name brought
// separates nothing.
std::vector<std::string> Destinations(const MarkedText& text) {
  std::vector<std::string> out;
  for (OpEntry& e : SplitOpList(text)) out.push_back(std::move(e.path));
  return out;
}

// A dry run asks nobody: it says what would be asked, and goes on as if
// the answer were yes, to show what would follow. Where the run could ask
// nobody, its answer is no, and so is the preview's.
class PreviewConfirmer final : public Confirmer {
 public:
  PreviewConfirmer(const RunContext& ctx, std::string display)
      : ctx_(ctx), display_(std::move(display)) {}
  bool Confirm(const std::string& question) override {
    ctx_.Would("ask: " + question +
               (display_.empty() ? " (no display to ask on: the answer is no)" : ""));
    return !display_.empty();
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
  const std::string display = display_ ? *display_ : SessionDisplay();
  DialogConfirmer confirmer(ctx, display);
  PreviewConfirmer preview_confirmer(ctx, display);
  // One preview for the whole run, so that it knows what earlier
  // operations of the run would have put in place.
  PreviewSteps preview(*services.messages);
  RunLedger ledger;
  FileOpEnvironment env;
  env.messages = services.messages;
  env.confirmer = ctx.DryRun() ? static_cast<Confirmer*>(&preview_confirmer) : &confirmer;
  if (ctx.DryRun()) env.steps = &preview;
  env.trash_dir = trash_dir_.empty() ? UserTrashDir() : trash_dir_;
  env.clock = services.clock;
  env.ledger = &ledger;

  const int op = Operation();
  const int batch = single_arg_->Value() ? 1 : 0;
  // A destination that several operations of this run share takes them all
  // as a folder: three files moved one by one to "out" must not end as one
  // file named "out".
  std::map<std::string, int> uses;
  if (batch == 1 && files.size() > 1 && op != kFoDelete) {
    for (int start = 0; start < static_cast<int>(files.size());) {
      MarkedText destination;
      start += ExpandForBatch(files, destination, op_destination_->Value(), start, 1, services);
      std::vector<std::string> entries = Destinations(destination);
      if (!entries.empty()) ++uses[entries.front()];
    }
  }
  // What the operations' own lines say (or, silent, leave out) goes once
  // more where every failed action says so: the error stream, with the item.
  std::string first_failure;
  int failed = 0;
  int start = 0;
  do {
    ctx.SetFilesDone(static_cast<size_t>(start));
    MarkedText source, destination;
    int used = ExpandForBatch(files, source, op_source_->Value(), start, batch, services);
    ExpandForBatch(files, destination, op_destination_->Value(), start, batch, services);
    start += used;
    if (source.text.empty() || (op != kFoDelete && destination.text.empty())) continue;
    // "[D:]\[P]\[N].[E]" stands for a file that was never reported: a path
    // built from it names nothing the user meant ("%Path/*" would be the
    // root folder's content).
    if (source.placeholder || (op != kFoDelete && destination.placeholder)) {
      const bool in_source = source.placeholder;
      services.messages->Write(
          Strings().TextAt(kLabels[op_index_->Value()]) + "not done, no file was reported for " +
          (in_source ? "OpSource=" + op_source_->Value()
                     : "OpDestination=" + op_destination_->Value()) +
          "\n");
      continue;
    }
    FileOpRequest request;
    request.op = op;
    request.sources = SplitOpList(source);
    request.destinations = Destinations(destination);
    request.flags = Flags();
    if (!request.destinations.empty()) {
      auto it = uses.find(request.destinations.front());
      request.shared_target = it != uses.end() && it->second > 1;
    }
    const FileOpSummary summary = PerformFileOperation(request, env);
    if (failed == 0) first_failure = summary.first_failure;
    failed += summary.failed;
    // One operation per file can be a long run; a stop ends it between
    // files, never inside one.
  } while (start < static_cast<int>(files.size()) && !ctx.StopRequested());
  ctx.SetFilesDone(static_cast<size_t>(start));
  if (failed > 0) {
    const int more = failed - 1;
    if (more > 0) {
      first_failure +=
          " (and " + std::to_string(more) + (more == 1 ? " more failure)" : " more failures)");
    }
    ctx.ReportFor(*this).Failed(first_failure);
  }
}

std::string FileOpAction::Describe() const {
  const int index = op_index_->Value();
  std::string text = Strings().TextAt(kLabels[index]) + op_source_->Value() + " ";
  if (index != 3) text += op_destination_->Value();
  return text;
}

}  // namespace sentrel

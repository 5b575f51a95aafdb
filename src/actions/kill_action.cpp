#include "actions/kill_action.h"

#include "actions/macros.h"
#include "lang/lang.h"
#include "core/masks.h"

namespace sentrel {

KillAction::KillAction() : Action(kLngKillApp) {
  title_mask_ = AddParam<StringParam>("killTitleMask", "");
  close_all_ = AddParam<BoolParam>("killCloseAll", false);
  forced_kill_ = AddParam<BoolParam>("killForcedKill", false);
}

void KillAction::Run(const FileList& files, const RunContext& ctx) {
  if (LeftOutWithoutDesktop(ctx)) return;
  std::string text;
  ExpandForBatch(files, text, title_mask_->Value(), 0, 0, ctx.services());
  // The whole expanded text is one mask, compiled anew for every run since
  // its macros follow the reported files. A mask the rules reject ends this
  // action only, with the reason on the console.
  std::unique_ptr<TMask> mask;
  try {
    mask = std::make_unique<TMask>(text);
  } catch (const InvalidMask& e) {
    ctx.services().messages->Write(std::string(e.what()) + "\n");
    ctx.ReportFor(*this).Failed(std::string(e.what()) + "; no program is closed");
    return;
  }
  std::unique_ptr<WindowSystem> windows = source_ ? source_() : OpenWindowSystem();
  if (!windows) return;
  // The list is taken once, topmost first, so closing one window cannot
  // disturb the walk.
  for (const TopWindow& window : windows->List()) {
    if (!mask->Matches(window.title)) continue;
    if (ctx.DryRun()) {
      const char* what = forced_kill_->Value() ? "end the program of window" : "close window";
      ctx.Would(std::string(what) + " \"" + window.title + "\"");
    } else if (forced_kill_->Value()) {
      windows->ForceEnd(window);
    } else {
      windows->RequestClose(window);
    }
    if (!close_all_->Value()) break;
  }
}

void KillAction::Review(Diagnostics& notes) const {
  // A mask with macros is only known when the action runs.
  const std::string& text = title_mask_->Value();
  if (text.find('%') != std::string::npos) return;
  try {
    TMask mask(text);
  } catch (const InvalidMask& e) {
    Note(notes, *title_mask_,
         "killTitleMask: " + std::string(e.what()) + "; the action closes no program");
  }
}

std::string KillAction::Describe() const { return title_mask_->Value(); }

}  // namespace sentrel

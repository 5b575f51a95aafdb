#include "actions/action.h"

#include "actions/exec_action.h"
#include "actions/fileop_action.h"
#include "actions/kill_action.h"
#include "actions/list_action.h"
#include "actions/popup_action.h"
#include "actions/sound_action.h"
#include "lang/lang.h"

namespace sentrel {

void ActionReport::Failed(std::string_view why) const {
  if (failures_ != nullptr) failures_->fetch_add(1);
  if (sink_ == nullptr) return;
  sink_->Write(prefix_ + std::string(why) + "\n");
}

ActionReport RunContext::ReportFor(const Action& action) const {
  std::string prefix;
  const int line = action.line() > 0 ? action.line() : item_.line;
  if (!item_.file.empty()) {
    prefix = item_.file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": ";
  }
  if (!item_.name.empty()) prefix += "item \"" + item_.name + "\": ";
  prefix += action.Caption() + ": ";
  return ActionReport(services_.errors, std::move(prefix), services_.failed_actions);
}

bool Action::LeftOutWithoutDesktop(const RunContext& ctx) {
  if (!ctx.services().no_desktop) return false;
  if (!said_no_desktop_.exchange(true)) {
    ctx.ReportFor(*this).Failed(
        "a service has no desktop: left out every time it would run (said once)");
  }
  return true;
}

Action::Action(int caption_index) : caption_(Strings().TextAt(caption_index)) {
  action_ = AddParam<IntParam>("Action", 0, 0, 5);
  enabled_ = AddParam<BoolParam>("Enabled", true);
  delay_before_ = AddParam<IntParam>("DelayBefore", 0, 0, 2147483647);
}

std::unique_ptr<Action> CreateAction(int kind) {
  std::unique_ptr<Action> action;
  switch (kind) {
    case kListAction: action = std::make_unique<ListAction>(); break;
    case kExecAction: action = std::make_unique<ExecAction>(); break;
    case kPopupAction: action = std::make_unique<PopupAction>(); break;
    case kSoundAction: action = std::make_unique<SoundAction>(); break;
    case kFileOpAction: action = std::make_unique<FileOpAction>(); break;
    case kKillAction: action = std::make_unique<KillAction>(); break;
    default: return nullptr;
  }
  action->KindParam().Set(kind);
  return action;
}

void LoadBlock(const std::vector<std::string>& lines, const ParamList& item_params,
               ActionList& actions, BlockReading* reading) {
  BlockReading unused;
  BlockReading& r = reading != nullptr ? *reading : unused;
  r.taken.assign(lines.size(), false);
  r.section.assign(lines.size(), nullptr);
  BoolParam file_list("FileList", false), execute("Execute", false),
      popup("PopupNotify", false), sound("Sound", false), file_op("FileOp", false);
  const ParamList switches = {&file_list, &execute, &popup, &sound, &file_op};
  IntParam action_kind("Action", 0, 0, 5);
  Action* current = nullptr;
  bool older_format = false;

  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const LineOrigin at{r.NumberOf(i), r.notes};
    r.section[i] = current;
    r.taken[i] = true;
    if (OfferLine(item_params, line, at)) continue;
    // A kind out of range is noted together with what it became.
    Diagnostics kind_notes;
    if (action_kind.ParseLine(line, {at.number, &kind_notes})) {
      actions.push_back(CreateAction(action_kind.Value()));
      current = actions.back().get();
      current->set_line(at.number);
      r.section[i] = current;
      if (r.notes != nullptr) {
        for (const Diagnostic& d : kind_notes.Sorted()) {
          r.notes->Warn(at.number, d.message + " (" + current->Caption() + ")");
        }
      }
      continue;
    }
    if (current != nullptr && OfferLine(current->Params(), line, at)) continue;
    if (OfferLine(switches, line, at)) {
      older_format = true;
      continue;
    }
    r.taken[i] = false;
  }
  r.older_format = older_format;

  if (!older_format) return;
  for (int kind = kListAction; kind <= kFileOpAction; ++kind) {
    std::unique_ptr<Action> action = CreateAction(kind);
    const Param& on = *switches[static_cast<size_t>(kind)];
    action->EnabledParam().AssignFrom(on);
    action->set_line(on.line());
    actions.push_back(std::move(action));
  }
  // The older format names each setting once for the whole block: the first
  // action that has a value of that name takes it.
  for (size_t i = 0; i < lines.size(); ++i) {
    const LineOrigin at{r.NumberOf(i), r.notes};
    for (const auto& action : actions) {
      if (OfferLine(action->Params(), lines[i], at)) {
        r.taken[i] = true;
        break;
      }
    }
  }
}

}  // namespace sentrel

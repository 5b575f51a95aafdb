#include "actions/action.h"

#include "actions/exec_action.h"
#include "actions/fileop_action.h"
#include "actions/kill_action.h"
#include "actions/list_action.h"
#include "actions/popup_action.h"
#include "actions/sound_action.h"
#include "lang/lang.h"

namespace sentrel {

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
               ActionList& actions) {
  BoolParam file_list("FileList", false), execute("Execute", false),
      popup("PopupNotify", false), sound("Sound", false), file_op("FileOp", false);
  const ParamList switches = {&file_list, &execute, &popup, &sound, &file_op};
  IntParam action_kind("Action", 0, 0, 5);
  Action* current = nullptr;
  bool older_format = false;

  for (const std::string& line : lines) {
    if (OfferLine(item_params, line)) continue;
    if (action_kind.ParseLine(line)) {
      actions.push_back(CreateAction(action_kind.Value()));
      current = actions.back().get();
      continue;
    }
    if (current != nullptr && OfferLine(current->Params(), line)) continue;
    if (OfferLine(switches, line)) older_format = true;
  }

  if (!older_format) return;
  for (int kind = kListAction; kind <= kFileOpAction; ++kind) {
    std::unique_ptr<Action> action = CreateAction(kind);
    action->EnabledParam().AssignFrom(*switches[static_cast<size_t>(kind)]);
    actions.push_back(std::move(action));
  }
  // The older format names each setting once for the whole block: the first
  // action that has a value of that name takes it.
  for (const std::string& line : lines) {
    for (const auto& action : actions) {
      if (OfferLine(action->Params(), line)) break;
    }
  }
}

}  // namespace sentrel

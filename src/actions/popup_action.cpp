#include "actions/popup_action.h"

#include "lang/lang.h"

namespace sentrel {

PopupAction::PopupAction() : Action(kLngPopup) {}

void PopupAction::Run(const FileList&, const RunContext&) {}

std::string PopupAction::Describe() const { return std::string(); }

}  // namespace sentrel

#include "actions/kill_action.h"

#include "lang/lang.h"

namespace sentrel {

KillAction::KillAction() : Action(kLngKillApp) {}

void KillAction::Run(const FileList&, const RunContext&) {}

std::string KillAction::Describe() const { return std::string(); }

}  // namespace sentrel

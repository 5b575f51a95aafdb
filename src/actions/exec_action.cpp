#include "actions/exec_action.h"

#include "lang/lang.h"

namespace sentrel {

ExecAction::ExecAction() : Action(kLngExecute) {}

void ExecAction::Run(const FileList&, const RunContext&) {}

std::string ExecAction::Describe() const { return std::string(); }

}  // namespace sentrel

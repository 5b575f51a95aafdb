#include "actions/list_action.h"

#include "lang/lang.h"

namespace sentrel {

ListAction::ListAction() : Action(kLngCreateList) {}

void ListAction::Run(const FileList&, const RunContext&) {}

std::string ListAction::Describe() const { return std::string(); }

}  // namespace sentrel

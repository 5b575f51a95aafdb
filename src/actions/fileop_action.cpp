#include "actions/fileop_action.h"

#include "lang/lang.h"

namespace sentrel {

FileOpAction::FileOpAction() : Action(kLngFileOp) {}

void FileOpAction::Run(const FileList&, const RunContext&) {}

std::string FileOpAction::Describe() const { return std::string(); }

}  // namespace sentrel

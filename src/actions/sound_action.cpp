#include "actions/sound_action.h"

#include "lang/lang.h"

namespace sentrel {

SoundAction::SoundAction() : Action(kLngSound) {}

void SoundAction::Run(const FileList&, const RunContext&) {}

std::string SoundAction::Describe() const { return std::string(); }

}  // namespace sentrel

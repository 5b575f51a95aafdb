#include "actions/desktop_dialogs.h"

namespace sentrel {

bool DialogConfirmer::Confirm(const std::string&) { return false; }

}  // namespace sentrel

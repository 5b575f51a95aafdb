#ifndef SENTREL_ACTIONS_DESKTOP_DIALOGS_H_
#define SENTREL_ACTIONS_DESKTOP_DIALOGS_H_

#include <string>

#include "actions/action.h"
#include "actions/file_operation.h"

namespace sentrel {

// Asks the user in a question dialog of the graphical session. Without a
// session, or when no dialog can be shown, nobody can be asked and the
// answer is no.
class DialogConfirmer final : public Confirmer {
 public:
  explicit DialogConfirmer(const RunContext& ctx) : ctx_(ctx) {}
  bool Confirm(const std::string& question) override;

 private:
  const RunContext& ctx_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_DESKTOP_DIALOGS_H_

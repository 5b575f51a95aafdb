#ifndef SENTREL_ACTIONS_DESKTOP_DIALOGS_H_
#define SENTREL_ACTIONS_DESKTOP_DIALOGS_H_

#include <functional>
#include <string>

#include "actions/action.h"
#include "actions/file_operation.h"

namespace sentrel {

// The graphical session dialogs appear in: $DISPLAY, else $WAYLAND_DISPLAY;
// empty when there is none.
std::string SessionDisplay();

struct DialogRequest {
  std::string title;
  std::string text;
  // The X display to show the dialog on; empty: the session's.
  std::string display;
};

enum class DialogAnswer { kYes, kNo, kNotShown };

// Shows an information dialog with one OK button (zenity, else kdialog,
// else xmessage) and waits until it is closed or `stop` answers true, which
// closes it. The text is shown as it is: no markup, no escapes.
DialogAnswer ShowInformation(const DialogRequest& request, const std::function<bool()>& stop);

// Asks a yes/no question the same way; anything but a "yes" is kNo.
DialogAnswer AskQuestion(const DialogRequest& request, const std::function<bool()>& stop);

// Asks the user in a question dialog of the graphical session. Without a
// session, or when no dialog can be shown, nobody can be asked and the
// answer is no.
class DialogConfirmer final : public Confirmer {
 public:
  explicit DialogConfirmer(const RunContext& ctx, std::string display = SessionDisplay())
      : ctx_(ctx), display_(std::move(display)) {}
  bool Confirm(const std::string& question) override;

 private:
  const RunContext& ctx_;
  std::string display_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_DESKTOP_DIALOGS_H_

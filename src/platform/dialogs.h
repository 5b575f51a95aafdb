#ifndef SENTREL_PLATFORM_DIALOGS_H_
#define SENTREL_PLATFORM_DIALOGS_H_

#include <functional>
#include <string>

namespace sentrel {

// The graphical session dialogs appear in: $DISPLAY, else $WAYLAND_DISPLAY;
// on Windows the user's desktop. Empty when there is none.
std::string SessionDisplay();

struct DialogRequest {
  std::string title;
  std::string text;
  // The X display to show the dialog on; empty: the session's.
  std::string display;
};

enum class DialogAnswer { kYes, kNo, kNotShown };

// Shows an information dialog with one OK button (zenity, else kdialog,
// else xmessage; on Windows a message box, top-most and in the foreground)
// and waits until it is closed or `stop` answers true, which closes it. The
// text is shown as it is: no markup, no escapes. kNotShown when no dialog
// could be shown.
DialogAnswer ShowInformation(const DialogRequest& request, const std::function<bool()>& stop);

// Asks a yes/no question the same way; anything but a "yes" is kNo.
DialogAnswer AskQuestion(const DialogRequest& request, const std::function<bool()>& stop);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DIALOGS_H_

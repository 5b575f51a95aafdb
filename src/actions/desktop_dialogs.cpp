#include "actions/desktop_dialogs.h"

#include <cstdlib>
#include <vector>

#include "lang/lang.h"
#include "platform/process.h"
#include "platform/top_windows.h"

namespace sentrel {
namespace {

// xmessage would take a leading "-" for an option.
std::string XmessageText(const std::string& text) {
  return !text.empty() && text[0] == '-' ? " " + text : text;
}

// Shows the dialog with the first program that can. A program that cannot
// be started, or that fails (an exit code other than 0 for OK or yes and 1
// for a closed box or no), hands over to the next one. When the display does
// not answer, no dialog program can show anything.
DialogAnswer RunFirstAvailable(const std::vector<std::vector<std::string>>& candidates,
                               const std::string& display, const std::function<bool()>& stop) {
  ProcessOptions options;
  options.null_streams = true;
  for (const auto& argv : candidates) {
    if (!DisplayAnswers(display)) return DialogAnswer::kNotShown;
    SpawnedProcess dialog = StartProcess(argv, options);
    if (!dialog.valid()) continue;
    if (dialog.Wait(stop) != SpawnedProcess::WaitResult::kExited) {
      // Nobody is waiting for an answer any more: the dialog goes.
      dialog.Terminate();
      if (dialog.Wait(nullptr, 2000) != SpawnedProcess::WaitResult::kExited) {
        dialog.Terminate(true);
      }
      return DialogAnswer::kNo;
    }
    if (dialog.exit_status() == 0) return DialogAnswer::kYes;
    // A box closed by the user, unless the display went away meanwhile
    // (a program that cannot reach its display says 1 too).
    if (dialog.exit_status() == 1 && DisplayAnswers(display)) return DialogAnswer::kNo;
  }
  return DialogAnswer::kNotShown;
}

std::vector<std::vector<std::string>> Candidates(const DialogRequest& r, bool question) {
  std::vector<std::string> zenity = {"zenity", question ? "--question" : "--info",
                                     "--no-markup", "--title=" + r.title, "--text=" + r.text};
  std::vector<std::string> kdialog = {"kdialog", "--title", r.title,
                                      question ? "--yesno" : "--msgbox", r.text};
  std::vector<std::string> xmessage = {"xmessage", "-center", "-title", r.title, "-buttons",
                                       question ? "Yes:0,No:1" : "OK:0", "-default",
                                       question ? "No" : "OK", XmessageText(r.text)};
  if (!r.display.empty()) {
    zenity.push_back("--display=" + r.display);
    kdialog.insert(kdialog.begin() + 1, {"--display", r.display});
    xmessage.insert(xmessage.begin() + 1, {"-display", r.display});
  }
  return {zenity, kdialog, xmessage};
}

}  // namespace

std::string SessionDisplay() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return std::string();
}

DialogAnswer ShowInformation(const DialogRequest& request, const std::function<bool()>& stop) {
  return RunFirstAvailable(Candidates(request, false),
                           request.display.empty() ? SessionDisplay() : request.display, stop);
}

DialogAnswer AskQuestion(const DialogRequest& request, const std::function<bool()>& stop) {
  return RunFirstAvailable(Candidates(request, true),
                           request.display.empty() ? SessionDisplay() : request.display, stop);
}

bool DialogConfirmer::Confirm(const std::string& question) {
  if (display_.empty()) return false;
  DialogRequest request;
  request.title = Strings().TextAt(kLngFileOp);
  request.text = question;
  // A Wayland-only session has no X display name to pass on: the dialog
  // finds the session by itself.
  if (display_.find(':') != std::string::npos) request.display = display_;
  return AskQuestion(request, [this] { return ctx_.StopRequested(); }) == DialogAnswer::kYes;
}

}  // namespace sentrel

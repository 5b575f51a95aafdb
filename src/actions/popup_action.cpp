#include "actions/popup_action.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "actions/macros.h"
#include "lang/lang.h"
#include "platform/dialogs.h"
#include "platform/wakeup.h"

namespace sentrel {
namespace {

std::atomic<int> open_boxes{0};

void ShowBox(const std::string& text, const std::string& display, MessageSink* console,
             const ActionReport& report) {
  DialogRequest request;
  request.title = Strings().TextAt(kLngNotifyTitle);
  request.text = text;
  if (display.find(':') != std::string::npos) request.display = display;
  // A box that the user has not closed stays open; it is theirs to close.
  if (display.empty()) {
    console->Write(request.title + "\n" + text + "\n");
  } else if (ShowInformation(request, nullptr) == DialogAnswer::kNotShown) {
    report.Failed("no dialog could be shown on display \"" + display +
                  "\" (it does not answer, or zenity, kdialog and xmessage are missing or "
                  "failed); the message went to the console");
    console->Write(request.title + "\n" + text + "\n");
  }
}

}  // namespace

PopupAction::PopupAction() : Action(kLngPopup) {
  message_ = AddParam<StringParam>("Message", "");
  wait_ = AddParam<BoolParam>("PopupWait", false);
}

int PopupAction::OpenBoxes() { return open_boxes.load(); }

void PopupAction::Run(const FileList& files, const RunContext& ctx) {
  if (LeftOutWithoutDesktop(ctx)) return;
  std::string text;
  ExpandForBatch(files, text, message_->Value(), 0, 0, ctx.services());
  std::string display = display_ ? *display_ : SessionDisplay();
  MessageSink* console = ctx.services().messages;
  // Signalled by the box thread once its box is gone.
  auto done = std::make_shared<Wakeup>();
  ++open_boxes;
  try {
    std::thread([text = std::move(text), display = std::move(display), console, done,
                 report = ctx.ReportFor(*this)] {
      ShowBox(text, display, console, report);
      done->Signal();
      --open_boxes;
    }).detach();
  } catch (const std::system_error&) {
    // No thread, no box, nothing to wait for.
    --open_boxes;
    return;
  }
  if (!wait_->Value()) return;
  // Waits as long as the box is open; the item's stop request ends the wait
  // (the box stays for the user to close).
  while (!done->WaitMs(100)) {
    if (ctx.StopRequested()) return;
  }
}

std::string PopupAction::Describe() const { return message_->Value(); }

}  // namespace sentrel

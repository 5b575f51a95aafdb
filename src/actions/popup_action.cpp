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

constexpr char kConsoleBlocked[] =
    "the message was not shown: the console has not yet taken the one before it (nobody reads "
    "the program's output)";

// Writes the block for a message that no dialog shows. `busy` is the
// action's: set while a block of it is being written, so that a console
// nobody reads holds one thread of the action, not one more at every check.
void ToConsole(const std::string& title, const std::string& text, MessageSink* console,
               std::atomic<bool>& busy, const ActionReport& report) {
  if (busy.exchange(true)) {
    report.Failed(kConsoleBlocked);
    return;
  }
  console->Write(title + "\n" + text + "\n");
  busy = false;
}

void ShowBox(const std::string& text, const std::string& display, MessageSink* console,
             std::atomic<bool>& busy, const ActionReport& report) {
  DialogRequest request;
  request.title = Strings().TextAt(kLngNotifyTitle);
  request.text = text;
  if (display.find(':') != std::string::npos) request.display = display;
  // A box that the user has not closed stays open; it is theirs to close.
  if (display.empty()) {
    console->Write(request.title + "\n" + text + "\n");
    busy = false;  // taken by Run for this block
  } else if (ShowInformation(request, nullptr) == DialogAnswer::kNotShown) {
    report.Failed("no dialog could be shown on display \"" + display +
                  "\" (it does not answer, or zenity, kdialog and xmessage are missing or "
                  "failed); the message went to the console");
    ToConsole(request.title, text, console, busy, report);
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
  if (ctx.DryRun()) {
    ctx.Would("show a popup: " + text);
    return;
  }
  std::string display = display_ ? *display_ : SessionDisplay();
  MessageSink* console = ctx.services().messages;
  // Without a graphical session the block goes to the console; while the one
  // before it is still being written, no other thread is started for it.
  if (display.empty() && console_busy_->exchange(true)) {
    ctx.ReportFor(*this).Failed(kConsoleBlocked);
    return;
  }
  // Signalled by the box thread once its box is gone.
  auto done = std::make_shared<Wakeup>();
  ++open_boxes;
  try {
    std::thread([text = std::move(text), display, console, done, busy = console_busy_,
                 report = ctx.ReportFor(*this)] {
      ShowBox(text, display, console, *busy, report);
      done->Signal();
      --open_boxes;
    }).detach();
  } catch (const std::system_error&) {
    // No thread, no box, nothing to wait for.
    --open_boxes;
    if (display.empty()) *console_busy_ = false;
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

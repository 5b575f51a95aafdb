#include "actions/popup_action.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "actions/desktop_dialogs.h"
#include "actions/macros.h"
#include "lang/lang.h"

namespace sentrel {
namespace {

std::atomic<int> open_boxes{0};

// Set by a box thread when its box is gone; shared with the item thread
// that may wait for it.
struct BoxDone {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mu);
      done = true;
    }
    cv.notify_all();
  }
  bool WaitMs(int ms) {
    std::unique_lock<std::mutex> lock(mu);
    return cv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return done; });
  }
};

void ShowBox(const std::string& text, const std::string& display, MessageSink* console) {
  DialogRequest request;
  request.title = Strings().TextAt(kLngNotifyTitle);
  request.text = text;
  if (display.find(':') != std::string::npos) request.display = display;
  // A box that the user has not closed stays open; it is theirs to close.
  if (display.empty() || ShowInformation(request, nullptr) == DialogAnswer::kNotShown) {
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
  std::string text;
  ExpandForBatch(files, text, message_->Value(), 0, 0, ctx.services());
  std::string display = display_ ? *display_ : SessionDisplay();
  MessageSink* console = ctx.services().messages;
  auto done = std::make_shared<BoxDone>();
  ++open_boxes;
  try {
    std::thread([text = std::move(text), display = std::move(display), console, done] {
      ShowBox(text, display, console);
      done->Set();
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

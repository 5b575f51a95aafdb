#ifndef SENTREL_ACTIONS_POPUP_ACTION_H_
#define SENTREL_ACTIONS_POPUP_ACTION_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "actions/action.h"

namespace sentrel {

// Tells the user about the reported files in an information dialog shown by
// a thread of its own, so monitoring goes on while it is open; with
// "PopupWait" the action returns only once the dialog is closed. Without a
// graphical session the title and message go to the console as one block;
// one at a time: a message that finds the one before it still unwritten (the
// console is not read) is dropped with one line on the error stream.
class PopupAction final : public Action {
 public:
  PopupAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;

  // The display dialogs appear on; the session's unless a test says
  // otherwise (an empty text: no graphical session).
  void SetDisplay(std::string display) { display_ = std::move(display); }

  // Dialog threads of all popup actions that have not finished yet.
  static int OpenBoxes();

 private:
  StringParam* message_;
  BoolParam* wait_;
  std::optional<std::string> display_;
  // Set while a message of this action is being written to the console.
  std::shared_ptr<std::atomic<bool>> console_busy_ = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_POPUP_ACTION_H_

#ifndef SENTREL_TESTS_POPUP_ACTION_FIXTURE_H_
#define SENTREL_TESTS_POPUP_ACTION_FIXTURE_H_

// Test support: popup actions whose console is a capturing sink.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "actions/popup_action.h"
#include "wait_until.h"

namespace sentrel {

class PopupActionTest : public ::testing::Test {
 protected:
  PopupActionTest() { services.messages = &sink; }
  ~PopupActionTest() override {
    // Box threads write to the sink; they must be done before it goes.
    EXPECT_TRUE(WaitUntil([] { return PopupAction::OpenBoxes() == 0; }));
  }

  std::unique_ptr<Action> MakePopup(const std::string& message, bool wait,
                                    const std::string& display) {
    auto action = CreateAction(kPopupAction);
    static_cast<PopupAction*>(action.get())->SetDisplay(display);
    OfferLine(action->Params(), "Message=" + message + "\n");
    if (wait) OfferLine(action->Params(), "PopupWait=1\n");
    return action;
  }

  CapturingSink sink;
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx{services, stop, stop_wakeup};
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_POPUP_ACTION_FIXTURE_H_

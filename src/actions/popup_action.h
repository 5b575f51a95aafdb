#ifndef SENTREL_ACTIONS_POPUP_ACTION_H_
#define SENTREL_ACTIONS_POPUP_ACTION_H_

#include "actions/action.h"

namespace sentrel {

// Not built yet: takes no values of its own and does nothing when run.
class PopupAction final : public Action {
 public:
  PopupAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_POPUP_ACTION_H_

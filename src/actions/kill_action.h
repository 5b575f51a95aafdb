#ifndef SENTREL_ACTIONS_KILL_ACTION_H_
#define SENTREL_ACTIONS_KILL_ACTION_H_

#include <functional>
#include <memory>
#include <string>

#include "actions/action.h"
#include "platform/top_windows.h"

namespace sentrel {

// Closes, or ends by force, the programs whose top-level window title
// matches the expanded "killTitleMask": the topmost match, or every match.
class KillAction final : public Action {
 public:
  using WindowSource = std::function<std::unique_ptr<WindowSystem>()>;

  KillAction();
  void Run(const FileList& files, const RunContext& ctx) override;
  std::string Describe() const override;
  void Review(Diagnostics& notes) const override;

  // Where the windows come from; the desktop's own unless a test says
  // otherwise.
  void SetWindowSource(WindowSource source) { source_ = std::move(source); }

 private:
  StringParam* title_mask_;
  BoolParam* close_all_;
  BoolParam* forced_kill_;
  WindowSource source_;
};

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_KILL_ACTION_H_

#ifndef SENTREL_ACTIONS_ACTION_H_
#define SENTREL_ACTIONS_ACTION_H_

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "config/param.h"
#include "monitor/file_data.h"
#include "platform/wakeup.h"
#include "shell/services.h"

namespace sentrel {

// Kind numbers of the actions, as the "Action" key gives them.
enum ActionKind : int {
  kListAction = 0,
  kExecAction = 1,
  kPopupAction = 2,
  kSoundAction = 3,
  kFileOpAction = 4,
  kKillAction = 5,
};

// What an action may use while it runs on its item's thread: the program's
// services and the item's stop request.
class RunContext {
 public:
  RunContext(Services& services, const std::atomic<bool>& stop, Wakeup& stop_wakeup)
      : services_(services), stop_(stop), stop_wakeup_(stop_wakeup) {}

  Services& services() const { return services_; }
  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }
  // Sleeps up to `ms`, returning early (true) when the item is asked to stop.
  bool WaitOrStop(int ms) const {
    if (StopRequested()) return true;
    services_.clock->WaitFor(stop_wakeup_, ms);
    return StopRequested();
  }
  // The item's stop latch, for threads of an action that must end with it.
  Wakeup& stop_wakeup() const { return stop_wakeup_; }
  const std::atomic<bool>& stop_flag() const { return stop_; }

 private:
  Services& services_;
  const std::atomic<bool>& stop_;
  Wakeup& stop_wakeup_;
};

// What an item does when its check fires. Every action has its kind, whether
// it is enabled and a delay before it runs; the classes add their own values.
class Action {
 public:
  explicit Action(int caption_index);
  virtual ~Action() = default;
  Action(const Action&) = delete;
  Action& operator=(const Action&) = delete;

  const ParamList& Params() const { return params_; }
  const std::string& Caption() const { return caption_; }
  int Kind() const { return action_->Value(); }
  bool Enabled() const { return enabled_->Value(); }
  int DelayBefore() const { return delay_before_->Value(); }
  IntParam& KindParam() { return *action_; }
  BoolParam& EnabledParam() { return *enabled_; }

  // Carries the action out over the reported files. Failures make the action
  // do less; nothing is reported back.
  virtual void Run(const FileList& files, const RunContext& ctx) = 0;
  // A one-line summary of the settings.
  virtual std::string Describe() const = 0;
  // Called for every enabled action once all actions of a run are done (a
  // list file is deleted only then, so later actions can still read it).
  virtual void AfterRun(const RunContext&) {}

 protected:
  template <typename P, typename... Args>
  P* AddParam(Args&&... args) {
    auto p = std::make_unique<P>(std::forward<Args>(args)...);
    P* raw = p.get();
    owned_.push_back(std::move(p));
    params_.push_back(raw);
    return raw;
  }

 private:
  std::vector<std::unique_ptr<Param>> owned_;
  ParamList params_;
  std::string caption_;
  IntParam* action_;
  BoolParam* enabled_;
  IntParam* delay_before_;
};

using ActionList = std::vector<std::unique_ptr<Action>>;

// Builds the action of `kind` (0..5) with its defaults; none for another kind.
std::unique_ptr<Action> CreateAction(int kind);

// The action part of reading an item's block. Lines the item's own values
// take stay with the item; "Action" lines open actions that the lines after
// them configure; the older switches ("FileList", "Execute", "PopupNotify",
// "Sound", "FileOp") create the five fixed actions afterwards, and then every
// line is offered once more to the actions of the whole list.
void LoadBlock(const std::vector<std::string>& lines, const ParamList& item_params,
               ActionList& actions);

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_ACTION_H_

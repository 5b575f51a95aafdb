#ifndef SENTREL_ACTIONS_ACTION_H_
#define SENTREL_ACTIONS_ACTION_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/param.h"
#include "core/file_data.h"
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

class Action;

// How an item is named where its actions report: the configuration file,
// the line its block starts on and what it watches.
struct ItemLabel {
  std::string file;
  int line = 0;
  std::string name;
};

// Says on the error stream, in one line naming the item and the action, that
// the action could not do its work. A copy may go to a thread of the action.
// A default-made one says nothing.
class ActionReport {
 public:
  ActionReport() = default;
  ActionReport(MessageSink* sink, std::string prefix, std::atomic<int>* failures = nullptr)
      : sink_(sink), prefix_(std::move(prefix)), failures_(failures) {}
  void Failed(std::string_view why) const;

 private:
  MessageSink* sink_ = nullptr;
  std::string prefix_;
  std::atomic<int>* failures_ = nullptr;
};

// What an action may use while it runs on its item's thread: the program's
// services and the item's stop request.
class RunContext {
 public:
  RunContext(Services& services, const std::atomic<bool>& stop, Wakeup& stop_wakeup,
             ItemLabel item = ItemLabel())
      : services_(services), stop_(stop), stop_wakeup_(stop_wakeup), item_(std::move(item)) {}

  Services& services() const { return services_; }
  // Where `action` reports its failures: once per run, whatever it tried.
  ActionReport ReportFor(const Action& action) const;
  // Counts a run of an action that could not do all its work, where it
  // said so itself rather than through ReportFor.
  void CountFailure() const {
    if (services_.failed_actions != nullptr) services_.failed_actions->fetch_add(1);
  }
  bool StopRequested() const { return stop_.load(std::memory_order_acquire); }
  // Whether actions only say what they would do (see Services::dry_run).
  bool DryRun() const { return services_.dry_run; }
  // One line of a dry run: "would " and `what`.
  void Would(const std::string& what) const { services_.messages->Write("would " + what + "\n"); }
  // Sleeps up to `ms`, returning early (true) when the item is asked to stop.
  bool WaitOrStop(int ms) const {
    if (StopRequested()) return true;
    services_.clock->WaitFor(stop_wakeup_, ms);
    return StopRequested();
  }
  // The item's stop latch, for threads of an action that must end with it.
  Wakeup& stop_wakeup() const { return stop_wakeup_; }
  const std::atomic<bool>& stop_flag() const { return stop_; }
  // An action that works through the files one by one says how many, from
  // the first, it is done with, so that a stop that cuts it short leaves
  // only the rest to be reported again.
  void SetFilesDone(size_t n) const { files_done_ = n; }
  std::optional<size_t> FilesDone() const { return files_done_; }
  void ClearFilesDone() { files_done_.reset(); }

 private:
  mutable std::optional<size_t> files_done_;
  Services& services_;
  const std::atomic<bool>& stop_;
  Wakeup& stop_wakeup_;
  ItemLabel item_;
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
  // The configuration line that opened the action; 0 when unknown.
  // Set while loading, and moved by a reload that keeps the item running.
  int line() const { return line_.load(std::memory_order_relaxed); }
  void set_line(int line) { line_.store(line, std::memory_order_relaxed); }

  // Carries the action out over the reported files. Failures make the action
  // do less; nothing is reported back.
  virtual void Run(const FileList& files, const RunContext& ctx) = 0;
  // A one-line summary of the settings.
  virtual std::string Describe() const = 0;
  // Called for every enabled action once all actions of a run are done (a
  // list file is deleted only then, so later actions can still read it).
  virtual void AfterRun(const RunContext&) {}
  // Notes what its settings will not do as the user probably meant (a
  // program that is nowhere to be found, say), before anything runs.
  virtual void Review(Diagnostics&) const {}

 protected:
  template <typename P, typename... Args>
  P* AddParam(Args&&... args) {
    auto p = std::make_unique<P>(std::forward<Args>(args)...);
    P* raw = p.get();
    owned_.push_back(std::move(p));
    params_.push_back(raw);
    return raw;
  }
  // A remark on `p`, at its line (or the action's, for a value never set).
  void Note(Diagnostics& notes, const Param& p, std::string message) const {
    notes.Warn(p.line() > 0 ? p.line() : line(), std::move(message));
  }
  // For an action that needs the user's desktop: true where there is none
  // (a service), having said so the first time instead of trying.
  bool LeftOutWithoutDesktop(const RunContext& ctx);

 private:
  std::vector<std::unique_ptr<Param>> owned_;
  ParamList params_;
  std::string caption_;
  IntParam* action_;
  BoolParam* enabled_;
  IntParam* delay_before_;
  std::atomic<int> line_{0};
  std::atomic<bool> said_no_desktop_{false};
};

using ActionList = std::vector<std::unique_ptr<Action>>;

// Builds the action of `kind` (0..5) with its defaults; none for another kind.
std::unique_ptr<Action> CreateAction(int kind);

// Where the lines of a block came from, and what became of each of them.
struct BlockReading {
  // The file's line number of each line; when empty, the lines count 1, 2...
  std::vector<int> numbers;
  // Where values note what they did not take as written; may be none.
  Diagnostics* notes = nullptr;
  // Filled by the reading, one entry per line: whether some value took it,
  // and the action whose "Action=" section it stood in (none before the
  // first such line, and in the older form).
  std::vector<bool> taken;
  std::vector<const Action*> section;
  bool older_format = false;

  int NumberOf(size_t i) const {
    return i < numbers.size() ? numbers[i] : static_cast<int>(i) + 1;
  }
};

// The action part of reading an item's block. Lines the item's own values
// take stay with the item; "Action" lines open actions that the lines after
// them configure; the older switches ("FileList", "Execute", "PopupNotify",
// "Sound", "FileOp") create the five fixed actions afterwards, and then every
// line is offered once more to the actions of the whole list.
void LoadBlock(const std::vector<std::string>& lines, const ParamList& item_params,
               ActionList& actions, BlockReading* reading = nullptr);

}  // namespace sentrel

#endif  // SENTREL_ACTIONS_ACTION_H_

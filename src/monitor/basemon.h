#ifndef SENTREL_MONITOR_BASEMON_H_
#define SENTREL_MONITOR_BASEMON_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "actions/action.h"
#include "config/param.h"
#include "core/file_data.h"
#include "monitor/schedule.h"
#include "platform/wakeup.h"
#include "shell/services.h"

namespace sentrel {

class StateJournal;
class StateReader;
class StateWriter;

// Item states as the loop and the checks leave them.
enum ItemStatus : uint8_t {
  kStatusReady = 0,
  kStatusPaused = 4,
  kStatusOutsideWindow = 5,
};

// Counts the item threads that are still running, so that the program (or a
// test) can wait for them to finish. Shared by the items and their owner, and
// alive as long as either still needs it.
class ThreadTracker {
 public:
  void Started();
  void Finished();
  // Waits until no tracked thread runs, up to `ms`; true if none runs.
  bool WaitIdle(int ms);
  int Running();

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  int running_ = 0;
};

// The common base of every monitored item: its values, actions and the files
// its last check reported, and the check loop that runs on the item's own
// thread at its interval and inside its schedule window.
class BaseMonitoring {
 public:
  BaseMonitoring(bool paused, Services& services);
  virtual ~BaseMonitoring();
  BaseMonitoring(const BaseMonitoring&) = delete;
  BaseMonitoring& operator=(const BaseMonitoring&) = delete;

  // Hands every line of the block to the item's values and actions, then
  // configures the item. `reading`, when given, says where the lines came
  // from and receives what became of them; its notes receive what the
  // values and the configuration did not take as written.
  void ParseBlock(const std::vector<std::string>& lines, BlockReading* reading = nullptr);

  // The configuration file and the line its block starts on, for reports
  // that name the item.
  void SetOrigin(std::string file, int line) {
    origin_file_ = std::move(file);
    origin_line_ = line;
  }
  const std::string& OriginFile() const { return origin_file_; }
  int OriginLine() const { return origin_line_.load(std::memory_order_relaxed); }
  // A reload found the item's block unchanged at `line`: what the running
  // item says from now on (its own lines and its actions') names where the
  // block stands now.
  void MoveOrigin(int line);

  // Starts the item's thread. The thread keeps `self` alive until its loop
  // ends, and the object is destroyed on that thread once nobody else holds
  // it. Call at most once.
  static void Start(std::shared_ptr<BaseMonitoring> self,
                    std::shared_ptr<ThreadTracker> tracker);
  // A single pass: the loop makes its first check (when the schedule
  // window is open), runs the actions, keeps the state and ends. Set before
  // Start.
  void SetSinglePass(bool on) { single_pass_ = on; }
  bool SinglePass() const { return single_pass_; }
  // The schedule window counts as open whatever the clock says, so that a
  // nightly item can be tried now. Set before Start.
  void SetIgnoreWindow(bool on) { ignore_window_ = on; }
  // Asks the loop to end; it notices within about 100 ms when idle, or before
  // its next action.
  void RequestTerminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // The thread Start made has left its loop, its state saved; others may
  // still hold the item.
  bool Ended() const { return ended_.load(std::memory_order_acquire); }
  // Asks the loop to end once the check and the actions it runs are done
  // (an item taken out of the configuration): nothing is cut short.
  void RequestFinish();
  // Asks for a check at the next pass without waiting for the interval.
  void RequestCheck();
  // Asks for a fresh start: the next check is a baseline.
  virtual void Restart();

  // The thread body; exposed so that tests can drive a loop on their own
  // thread. It sleeps until something is due: the interval, a turn of the
  // schedule window, a check request or a stop.
  virtual void RunLoop();
  // The kind's check: 1 when the actions are to run. Leaves one record per
  // reported file in ReportedFiles.
  virtual uint8_t Check() = 0;
  // Builds the derived data once the block is parsed.
  virtual void Configure();

  // What the item would do with one path, for a user who asks why a file
  // was or was not reported.
  struct PathVerdict {
    bool inside = false;  // the path is where the item looks
    // A check now, the first of a run without a saved state (what a single
    // pass does), hands the file to the actions as it is now.
    bool now = false;
    // Change detection: the states in which a later check hands it to the
    // actions, as bits (1 << kStateAdded and so on); a path where nothing
    // is yet can only be added.
    uint8_t later = 0;
    bool reported = false;  // now, or later as above
    std::string text;       // the reasons, as lines indented by two blanks
  };
  virtual PathVerdict ExplainPath(const std::string& path) const;
  // What decides which files the item reports, as lines indented by two
  // blanks; the base says when its schedule window next opens.
  virtual std::string DescribeSelection() const;
  // The window in words: "open now", "next opens Monday 2026-12-14 at
  // 09:00:00", or that it never opens.
  std::string WindowOpening() const;
  // Paused, or a window that never opens.
  bool NeverChecks() const;
  // Runs the actions over ReportedFiles. Returns how many of them, from the
  // first, every action finished with: all of them unless a stop cut the
  // run short.
  size_t RunActions();
  bool InScheduleWindow();

  // Values every item has.
  IntParam& IsDirectory() { return *is_directory_; }
  const IntParam& IsDirectory() const { return *is_directory_; }
  StringParam& FileName() { return *file_name_; }
  const StringParam& FileName() const { return *file_name_; }
  const IntParam& Interval() const { return *interval_; }
  const BoolParam& RunOnce() const { return *run_once_; }
  const BoolParam& WorkHours() const { return *work_hours_; }
  const StringListParam& TimeInterval() const { return *time_interval_; }
  const StringParam& Days() const { return *days_; }
  const StringParam& MonthDays() const { return *month_days_; }
  const BoolParam& SaveState() const { return *save_state_; }

  // Which item of its configuration file with the same kind and "FileName"
  // it is (0 for the first), so that each keeps its own state.
  void SetStateSlot(int slot) { state_slot_ = slot; }
  // The file that holds the item's state across runs.
  std::string StatePath() const;

  const ParamList& Params() const { return params_; }
  const ActionList& Actions() const { return actions_; }
  const ScheduleWindow& Schedule() const { return schedule_; }
  Services& services() { return services_; }

  // How far the item has come, for the lines that tell the user when the
  // first checks are done; read from any thread.
  struct Progress {
    std::atomic<bool> first_check_done{false};
    // A single pass made its check and ran its actions to their end, with
    // no stop cutting them short.
    std::atomic<bool> pass_done{false};
    // Seen so far by the first walk; after each check, what it watches.
    std::atomic<uint64_t> folders{0};
    std::atomic<uint64_t> files{0};
  };
  const Progress& progress() const { return progress_; }

  uint8_t Status() const { return status_.load(std::memory_order_acquire); }
  uint8_t LastResult() const { return last_result_; }
  bool CheckNowSet() const { return check_now_.load(std::memory_order_acquire); }
  bool RebaselineSet() const { return rebaseline_.load(std::memory_order_acquire); }
  // Whether the check about to run was asked for (a real-time wake or a
  // request) rather than due by the interval. The loop sets it; a test that
  // calls Check itself may too.
  bool CheckRequested() const { return check_requested_; }
  void SetCheckRequested(bool requested) { check_requested_ = requested; }

  FileList ReportedFiles;

 protected:
  template <typename P, typename... Args>
  P* AddParam(Args&&... args) {
    auto p = std::make_unique<P>(std::forward<Args>(args)...);
    P* raw = p.get();
    owned_params_.push_back(std::move(p));
    params_.push_back(raw);
    return raw;
  }

  // While the block is read: notes what `p` (or the block, for a value
  // never set) does not do as written. Nothing otherwise.
  void Note(const Param& p, std::string message);
  void NoteError(const Param& p, std::string message);
  // Notes a flag text of which only the first `count` characters are read,
  // and only a "1" counts.
  void NoteFlags(const StringParam& p, size_t count);
  Diagnostics* notes() const { return notes_; }

  // What gives the kind's saved state its meaning, as "Key=Value" lines: a
  // state saved under other values is not used.
  virtual std::string StateSettings() const;
  virtual void WriteState(StateWriter&) const {}
  // Reads the kind's data and, through `in.Finish`, checks the file's
  // checksum; takes the state only when all is well, else says why.
  virtual bool ReadState(StateReader&, std::string& why) {
    why = "cannot be used by this kind of item";
    return false;
  }
  // At the first check of a run, with "SaveState": reads the saved state,
  // and says on the console why when one is there but cannot be used. True
  // when the item took it.
  bool LoadState();
  // The check changed what the saved state holds: it is written after the
  // check, or a few seconds later when the last save is recent, and at the
  // latest when the item stops.
  void MarkStateChanged() { state_changed_ = true; }

  void SetStatus(uint8_t s) { status_.store(s, std::memory_order_release); }
  ActionList& mutable_actions() { return actions_; }
  // The kind's check reads and clears the request.
  bool TakeRebaseline() { return rebaseline_.exchange(false, std::memory_order_acq_rel); }
  void SetCheckNow(bool v);
  // Sleeps up to `ms`, ending early on a stop request; true if stopped.
  bool WaitOrStop(int ms);
  RunContext MakeRunContext();
  // One check and, when it fires, the actions.
  void RunCheck();

  Services& services_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finishing_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> check_now_{true};
  std::atomic<bool> rebaseline_{true};
  std::atomic<uint8_t> status_;
  // Restart may clear it from another thread.
  std::atomic<uint8_t> last_result_{0};
  bool check_requested_ = false;
  bool single_pass_ = false;
  bool ignore_window_ = false;
  // The longest the loop sleeps without looking at the clocks.
  static constexpr int kLongestSleepMs = 60000;
  // The least time between two saves of an item's state.
  static constexpr int64_t kStateSaveEveryMs = 5000;
  Progress progress_;
  // Woken by a check request or a stop: ends the idle sleep at once.
  Wakeup wakeup_;
  // Woken only by a stop: ends the waits inside checks and actions.
  Wakeup stop_wakeup_;

 private:
  std::string origin_file_;
  std::atomic<int> origin_line_{0};
  Diagnostics* notes_ = nullptr;
  std::vector<std::unique_ptr<Param>> owned_params_;
  ParamList params_;
  ActionList actions_;
  ScheduleWindow schedule_;
  IntParam* is_directory_;
  StringParam* file_name_;
  StringParam* comment_;
  IntParam* interval_;
  BoolParam* run_once_;
  BoolParam* work_hours_;
  StringListParam* time_interval_;
  StringParam* days_;
  StringParam* month_days_;
  BoolParam* save_state_;

  // Saves the state now when it changed; false when it could not.
  void SaveStateNow();
  // Says one line about the item's saved state on the console.
  void SayAboutState(const std::string& text);
  // Hands the reports that a stop kept from their actions in the last run
  // to this check's actions, once, after the check that took the state.
  bool TakeCutShortReports();
  // False when the state folder is not the user's own (said once a run).
  bool StateFolderTrusted();
  int state_slot_ = 0;
  // Reports whose actions a stop cut short: saved with the state, and
  // handed to the actions again at the next start.
  FileList cut_short_;
  // What the saves of this run wrote, so that the next one writes only
  // what changed.
  std::unique_ptr<StateJournal> state_journal_;
  bool cut_short_loaded_ = false;
  bool state_load_tried_ = false;
  // Something that is not a state file has the state's name: left alone.
  bool state_unusable_ = false;
  bool state_changed_ = false;
  bool state_save_failed_ = false;
  // When the state was last written (TickMs); long ago at first.
  int64_t state_saved_at_ = INT64_MIN / 2;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_BASEMON_H_

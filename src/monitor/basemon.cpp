#include "monitor/basemon.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "monitor/state_file.h"
#include "platform/paths.h"

namespace sentrel {

void ThreadTracker::Started() {
  std::lock_guard<std::mutex> lock(mu_);
  ++running_;
}

void ThreadTracker::Finished() {
  std::lock_guard<std::mutex> lock(mu_);
  --running_;
  cv_.notify_all();
}

bool ThreadTracker::WaitIdle(int ms) {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return running_ == 0; });
}

int ThreadTracker::Running() {
  std::lock_guard<std::mutex> lock(mu_);
  return running_;
}

BaseMonitoring::BaseMonitoring(bool paused, Services& services)
    : services_(services),
      status_(paused ? kStatusPaused : kStatusReady),
      state_journal_(std::make_unique<StateJournal>()) {
  is_directory_ = AddParam<IntParam>("IsDirectory", 0, 0, 2);
  file_name_ = AddParam<StringParam>("FileName", "");
  comment_ = AddParam<StringParam>("Comment", "");
  interval_ = AddParam<IntParam>("Interval", 60, 1, 2147483647);
  run_once_ = AddParam<BoolParam>("RunOnce", false);
  work_hours_ = AddParam<BoolParam>("WorkHours", false);
  time_interval_ = AddParam<StringListParam>("TimeInterval");
  days_ = AddParam<StringParam>("Days", "1111111", 7);
  month_days_ = AddParam<StringParam>("MonthDays", "");
  save_state_ = AddParam<BoolParam>("SaveState", false);
}

BaseMonitoring::~BaseMonitoring() = default;

void BaseMonitoring::ParseBlock(const std::vector<std::string>& lines, BlockReading* reading) {
  LoadBlock(lines, params_, actions_, reading);
  notes_ = reading != nullptr ? reading->notes : nullptr;
  // The notes are the caller's: they must not be reached once it returns.
  struct Forget {
    Diagnostics*& notes;
    ~Forget() { notes = nullptr; }
  } forget{notes_};
  Configure();
  if (notes_ != nullptr) {
    for (const auto& action : actions_) action->Review(*notes_);
    if (actions_.empty()) {
      notes_->Warn(OriginLine(), "the item has no action: nothing is done when it fires");
    }
  }
}

void BaseMonitoring::Note(const Param& p, std::string message) {
  if (notes_ != nullptr) notes_->Warn(p.line() > 0 ? p.line() : OriginLine(), std::move(message));
}

void BaseMonitoring::NoteError(const Param& p, std::string message) {
  if (notes_ != nullptr) notes_->Error(p.line() > 0 ? p.line() : OriginLine(), std::move(message));
}

void BaseMonitoring::NoteFlags(const StringParam& p, size_t count) {
  if (notes_ == nullptr || p.line() == 0) return;
  const std::string& text = p.Value();
  if (text.size() > count) {
    Note(p, p.Name() + ": \"" + text + "\" has " + std::to_string(text.size()) +
                " characters; only the first " + std::to_string(count) + " are read");
  }
  if (text.substr(0, count).find_first_not_of("01") != std::string::npos) {
    Note(p, p.Name() + ": \"" + text.substr(0, count) +
                "\" holds characters other than 0 and 1; each of them counts as 0");
  }
}

void BaseMonitoring::Configure() {
  std::vector<std::string> intervals = time_interval_->Items();
  std::vector<size_t> dropped;
  schedule_.Configure(days_->Value(), month_days_->Value(), work_hours_->Value(), intervals,
                      services_.regional, &dropped);
  // Removed from the last, so that the earlier positions still hold.
  for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) {
    if (notes_ != nullptr) {
      notes_->Warn(time_interval_->ItemLines()[*it],
                   "TimeInterval: \"" + time_interval_->Items()[*it] +
                       "\" is not a time range such as \"09:00:00 - 17:00:00\" (start in "
                       "characters 1-8, end in 12-19); it is dropped");
    }
    time_interval_->RemoveAt(*it);
  }
  if (work_hours_->Value() && !schedule_.work_hours()) {
    Note(*work_hours_, "WorkHours: no TimeInterval range is left; taken as 0 (checks at any "
                       "time of day)");
    work_hours_->Set(false);
  }
  NoteFlags(*days_, 7);
  if (days_->Value().substr(0, 7).find('1') == std::string::npos) {
    Note(*days_, "Days: \"" + days_->Value() +
                     "\" allows no day of the week; the item never checks");
  }
  if (notes_ != nullptr && !month_days_->Value().empty()) {
    std::vector<int64_t> ignored;
    ParseMonthDays(month_days_->Value(), &ignored);
    if (schedule_.month_day_flags().find('1') == std::string::npos) {
      Note(*month_days_, "MonthDays: \"" + month_days_->Value() +
                             "\" names no day from 1 to 31; every day is allowed");
    } else {
      for (int64_t n : ignored) {
        Note(*month_days_, "MonthDays: " + std::to_string(n) +
                               " is not a day of the month; it is ignored");
      }
    }
  }
}

void BaseMonitoring::Start(std::shared_ptr<BaseMonitoring> self,
                           std::shared_ptr<ThreadTracker> tracker) {
  tracker->Started();
  try {
    std::thread([self, tracker]() mutable {
      self->RunLoop();
      self->ended_.store(true, std::memory_order_release);
      // The item is destroyed here, on its own thread, unless its owner
      // still holds it.
      self.reset();
      tracker->Finished();
    }).detach();
  } catch (const std::system_error&) {
    // No thread could be made: the item simply does not run.
    self->ended_.store(true, std::memory_order_release);
    tracker->Finished();
  }
}

void BaseMonitoring::RequestTerminate() {
  terminated_.store(true, std::memory_order_release);
  wakeup_.Signal();
  stop_wakeup_.Signal();
}

void BaseMonitoring::RequestFinish() {
  finishing_.store(true, std::memory_order_release);
  wakeup_.Signal();
}

void BaseMonitoring::SetCheckNow(bool v) {
  check_now_.store(v, std::memory_order_release);
  if (v) wakeup_.Signal();
}

void BaseMonitoring::RequestCheck() { SetCheckNow(true); }

void BaseMonitoring::Restart() {
  rebaseline_.store(true, std::memory_order_release);
  last_result_ = 0;
  SetStatus(kStatusReady);
  SetCheckNow(true);
}

bool BaseMonitoring::InScheduleWindow() { return schedule_.Contains(services_.clock->Now()); }

bool BaseMonitoring::WaitOrStop(int ms) {
  if (Terminated()) return true;
  services_.clock->WaitFor(stop_wakeup_, ms);
  return Terminated();
}

RunContext BaseMonitoring::MakeRunContext() {
  return RunContext(services_, terminated_, stop_wakeup_,
                    ItemLabel{origin_file_, OriginLine(), file_name_->Value()});
}

void BaseMonitoring::RunLoop() {
  Clock& clock = *services_.clock;
  // The tick at which the interval asks for the next check; the first one
  // is due at once.
  int64_t due = clock.TickMs();
  while (!Terminated() && !finishing_.load(std::memory_order_acquire)) {
    if (state_changed_ && clock.TickMs() - state_saved_at_ >= kStateSaveEveryMs) SaveStateNow();
    // At every wake, so that the window and a check's shown times follow a
    // new time zone at once (a laptop that travels, a corrected setting).
    clock.FollowZoneChange();
    const LocalTime local = clock.Now();
    const bool inside = ignore_window_ || schedule_.Contains(local);
    if (!inside && Status() != kStatusOutsideWindow) {
      SetStatus(kStatusOutsideWindow);
    } else if (inside && Status() == kStatusOutsideWindow) {
      SetStatus(kStatusReady);
      SetCheckNow(true);
    }

    const bool outside = Status() == kStatusOutsideWindow;
    if (single_pass_) {
      if (!outside) {
        RunCheck();
        if (!Terminated()) progress_.pass_done.store(true, std::memory_order_release);
      }
      break;
    }
    const bool interval = clock.TickMs() >= due;
    if (!outside && (interval || CheckNowSet() || RebaselineSet())) {
      check_requested_ = !interval;
      RunCheck();
      // The interval counts from the end of the check and its actions.
      due = clock.TickMs() + static_cast<int64_t>(interval_->Value()) * 1000;
      continue;
    }
    if (Terminated() || finishing_.load(std::memory_order_acquire)) break;

    // Asleep until something is due: the interval, the window's next turn,
    // a check request or a stop (both signal the wakeup). The sleep is never
    // longer than a minute, so that a clock set or a machine that slept
    // (whose time the tick counts) is noticed within it.
    const int64_t now = clock.TickMs();
    int64_t wake = outside ? now + kLongestSleepMs : std::min(due, now + kLongestSleepMs);
    // The window turns at a reading of the local clock; the sleep until
    // then is real time, which a daylight-saving switch makes longer or
    // shorter than the difference of the readings.
    const int64_t turn = schedule_.MsUntilChange(local);
    if (turn >= 0) wake = std::min(wake, now + clock.MsUntilLocal(local.value + turn / 86400000.0));
    if (state_changed_) wake = std::min(wake, std::max(now, state_saved_at_ + kStateSaveEveryMs));
    if (wake > now && clock.WaitFor(wakeup_, static_cast<int>(wake - now))) wakeup_.Consume();
  }
  // An orderly stop keeps what the last checks found.
  if (state_changed_) SaveStateNow();
}

std::string BaseMonitoring::StatePath() const {
  return StateFilePath(origin_file_, is_directory_->Value(), file_name_->Value(), state_slot_);
}

void BaseMonitoring::MoveOrigin(int line) {
  const int moved = line - OriginLine();
  origin_line_ = line;
  for (const auto& action : actions_) {
    if (action->line() > 0) action->set_line(action->line() + moved);
  }
}

std::string BaseMonitoring::StateSettings() const {
  return "FileName=" + file_name_->Value() + "\n";
}

void BaseMonitoring::SayAboutState(const std::string& text) {
  std::string line = origin_file_;
  if (OriginLine() > 0) line += ":" + std::to_string(OriginLine());
  line += ": item \"" + file_name_->Value() + "\": " + text + "\n";
  services_.errors->Write(line);
}

bool BaseMonitoring::StateFolderTrusted() {
  std::string said;
  const bool usable = StateFolderUsable(UserStateFolder(), said);
  if (!said.empty()) services_.errors->Write(said);
  return usable;
}

bool BaseMonitoring::LoadState() {
  if (!save_state_->Value() || state_load_tried_) return false;
  state_load_tried_ = true;
  if (!StateFolderTrusted()) return false;
  const std::string path = StatePath();
  const std::string fresh = "; the item starts with a fresh baseline";
  StateReader in;
  std::string saved, why;
  switch (in.Open(path, static_cast<uint32_t>(is_directory_->Value()), saved, why)) {
    case StateReader::Opened::kMissing:
      return false;
    case StateReader::Opened::kNotAFile:
      // Whatever it is, it is not ours to replace.
      state_unusable_ = true;
      SayAboutState("\"" + path + "\" is not a regular file: the item runs without saved state "
                    "(remove it to have the state saved again)");
      return false;
    case StateReader::Opened::kRefused:
      SayAboutState("the saved state \"" + path + "\" " + why + fresh);
      return false;
    case StateReader::Opened::kReady:
      break;
  }
  const std::string settings = StateSettings();
  if (saved != settings) {
    if (!in.Skip(why)) {
      SayAboutState("the saved state \"" + path + "\" " + why + fresh);
    } else {
      SayAboutState("the state saved with " + SettingsDifference(saved, settings) +
                    " is not used" + fresh);
    }
    return false;
  }
  FileList cut_short;
  if (!GetReports(in, cut_short)) {
    if (in.Skip(why)) why = "is damaged (its content does not hold together)";
    SayAboutState("the saved state \"" + path + "\" " + why + fresh);
    return false;
  }
  if (!ReadState(in, why)) {
    SayAboutState("the saved state \"" + path + "\" " + why + fresh);
    return false;
  }
  cut_short_ = std::move(cut_short);
  cut_short_loaded_ = !cut_short_.empty();
  return true;
}

void BaseMonitoring::SaveStateNow() {
  state_changed_ = false;
  state_saved_at_ = services_.clock->TickMs();
  // A dry run leaves the saved state as it was: the run that follows it
  // must report what the dry run showed.
  if (!save_state_->Value() || services_.dry_run || state_unusable_ || !StateFolderTrusted()) {
    return;
  }
  StateSaveBegins();
  struct Ends {
    ~Ends() { StateSaveEnds(); }
  } ends;
  const std::string path = StatePath();
  StateWriter out;
  std::string error;
  if (out.Open(path, static_cast<uint32_t>(is_directory_->Value()), StateSettings(), error)) {
    PutReports(out, cut_short_);
    WriteState(out);
    if (out.Finish(*state_journal_, error)) {
      state_save_failed_ = false;
      return;
    }
  }
  // Said once until a save succeeds again; every change tries again.
  if (state_save_failed_) return;
  state_save_failed_ = true;
  SayAboutState("the state cannot be saved in \"" + path + "\" (" + error + ")");
}

bool BaseMonitoring::TakeCutShortReports() {
  if (!cut_short_loaded_) return false;
  cut_short_loaded_ = false;
  // What this check found of the same file says more about it now.
  std::unordered_set<std::string> found;
  for (const FileData& f : ReportedFiles) found.insert(f.Name);
  for (FileData& f : cut_short_) {
    if (found.insert(f.Name).second) ReportedFiles.push_back(std::move(f));
  }
  cut_short_.clear();
  return true;
}

void BaseMonitoring::RunCheck() {
  // The request is taken before the check, not after it: a change that is
  // signalled while the check runs asks for one more check instead of being
  // forgotten.
  check_now_.store(false, std::memory_order_release);
  uint8_t result = 0;
  try {
    result = Check();
  } catch (...) {
    // A check that fails counts as a negative one; the item goes on.
    result = 0;
  }
  progress_.first_check_done.store(true, std::memory_order_release);
  const bool carried = TakeCutShortReports();
  if (carried) result = 1;
  size_t finished = ReportedFiles.size();
  if (result == 1) {
    if (!run_once_->Value() || last_result_ == 0 || carried) finished = RunActions();
    last_result_ = 1;
  } else {
    last_result_ = 0;
  }
  // The state the check left already counts its reports as seen: those
  // whose actions a stop cut short are kept apart, to be reported again
  // when the next run starts.
  if (save_state_->Value() && (finished < ReportedFiles.size() || carried)) {
    cut_short_.assign(std::make_move_iterator(ReportedFiles.begin() + finished),
                      std::make_move_iterator(ReportedFiles.end()));
    MarkStateChanged();
  }
  ReportedFiles.clear();
}

size_t BaseMonitoring::RunActions() {
  RunContext ctx = MakeRunContext();
  const size_t all = ReportedFiles.size();
  size_t finished = all;
  for (const auto& action : actions_) {
    if (Terminated()) return 0;
    if (!action->Enabled()) continue;
    // A stop during the delay ends the run: the action would be cut short by
    // the ending process anyway.
    if (action->DelayBefore() > 0 && WaitOrStop(action->DelayBefore())) return 0;
    ctx.ClearFilesDone();
    try {
      action->Run(ReportedFiles, ctx);
    } catch (...) {
      // An action that fails does less; the next one still runs.
    }
    // An action that a stop may have cut short counts only the files it
    // says it finished with.
    if (Terminated()) finished = std::min(finished, std::min(all, ctx.FilesDone().value_or(0)));
  }
  // A stop during the last action ends the run as one before any other
  // action does: the list files stay.
  if (Terminated()) return finished;
  for (const auto& action : actions_) {
    if (!action->Enabled()) continue;
    try {
      action->AfterRun(ctx);
    } catch (...) {
    }
  }
  return finished;
}

}  // namespace sentrel

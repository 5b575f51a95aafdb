#include "monitor/chkfile.h"

#include "config/path_remarks.h"
#include "monitor/find_file.h"
#include "monitor/state_file.h"
#include "platform/clock.h"
#include "platform/open_files.h"
#include "shell/text_util.h"

namespace sentrel {
namespace {

constexpr int kLockPollMs = 100;

Instant LastWrite(const FoundFile& f) { return InstantOf(f.mtime_sec, f.mtime_nsec); }

}  // namespace

CheckFileThread::CheckFileThread(bool paused, Services& services)
    : BaseMonitoring(paused, services) {
  if_changed_ = AddParam<IntParam>("IfChanged", 0, 0, 1);
  ignore_first_ = AddParam<BoolParam>("IgnoreFirst", false);
  must_exist_ = AddParam<BoolParam>("MustExist", true);
  check_locking_ = AddParam<BoolParam>("CheckLocking", false);
  wait_unlocking_ = AddParam<BoolParam>("WaitUnlocking", false);
}

void CheckFileThread::Configure() {
  BaseMonitoring::Configure();
  FileName().SetText(NativeSeparators(FileName().Value()));
  if (notes() == nullptr) return;
  const std::string& path = FileName().Value();
  if (path.empty()) {
    Note(FileName(), "FileName: no file is named; the item finds its file missing at every check");
  } else if (StartsWithTilde(path)) {
    Note(FileName(), "FileName: \"" + path +
                         "\": \"~\" is not expanded here; write the full path of the file");
  } else if (const std::string trouble = FolderTrouble(DirectoryOf(path)); !trouble.empty()) {
    Note(FileName(), "FileName: folder \"" + DirectoryOf(path) + "\" " + trouble +
                         EnvironmentHint(path) + "; the file is missing until it " +
                         (trouble == "does not exist" ? "does" : "can be read"));
  }
}

bool CheckFileThread::WaitForRelease(const std::string& path) {
  // Requests that arrive from here on end the wait; the ones the loop has
  // already answered by starting this check do not.
  SetCheckNow(false);
  for (;;) {
    if (!IsFileInUse(path)) return true;
    if (!wait_unlocking_->Value() || Terminated() || CheckNowSet() || RebaselineSet()) {
      return false;
    }
    if (WaitOrStop(kLockPollMs)) return false;
  }
}

bool CheckFileThread::WrittenAtFirstCheck(Instant t) const {
  // Written within the last interval (in real seconds), or dated in the
  // future. No overflow: now is after 1970, the interval below 69 years.
  return t >= services_.clock->RealNow() - Interval().Value() * kNanosPerSecond;
}

uint8_t CheckFileThread::Check() {
  uint8_t previous_status = Status();
  // Taken now rather than cleared at the end, so that a restart asked for
  // while this check waits for the file makes the next check a fresh one.
  bool baseline = TakeRebaseline();
  // The first check of a run goes on from the last run's saved state, as
  // if Sentrel had never stopped.
  if (baseline && LoadState()) {
    baseline = false;
    previous_time_ = saved_time_;
    if (saved_missing_) previous_status = kFileMissing;
  }
  uint8_t state = kStateNone;
  uint8_t status = kFileNotFired;
  bool result = false;

  const std::string& path = FileName().Value();
  FoundFile found;
  if (!FindWatchedFile(path, found)) {
    status = kFileMissing;
  } else {
    Instant t = LastWrite(found);
    bool written;
    if (baseline) {
      written = WrittenAtFirstCheck(t);
    } else {
      written = t != previous_time_;
    }
    if (written) {
      status = kFileNotFired;
      state = kStateChanged;
    } else {
      status = kFileFired;
    }
    if (previous_status == kFileMissing) state = kStateAdded;
    if (if_changed_->Value() == 1) status = status == kFileFired ? kFileNotFired : kFileFired;

    if (status != kFileFired) {
      previous_time_ = t;
    } else {
      result = true;
      bool keep_previous_time = false;
      if (check_locking_->Value()) {
        const std::string full_name = DirectoryOf(path) + found.name;
        if (!WaitForRelease(full_name)) {
          result = false;
          // A write held back because the file was still open is judged
          // again at the next check instead of being lost.
          keep_previous_time = written;
        }
        FoundFile again;
        if (FindWatchedFile(path, again)) {
          found = again;
          t = LastWrite(found);
        } else {
          status = kFileMissing;
          result = false;
        }
      }
      ReportedFiles.emplace_back(DirectoryOf(path) + found.name, FileTimeToLocalDateTime(t),
                                 found.size, state);
      if (!keep_previous_time) previous_time_ = t;
    }
  }

  SetStatus(status);
  const bool missing = status == kFileMissing;
  if (!saved_ || previous_time_ != saved_time_ || missing != saved_missing_) {
    saved_ = true;
    saved_time_ = previous_time_;
    saved_missing_ = missing;
    MarkStateChanged();
  }
  if (must_exist_->Value() && status == kFileMissing) result = true;
  if (initial_check_ && ignore_first_->Value()) result = false;
  initial_check_ = false;
  return result ? 1 : 0;
}

void CheckFileThread::WriteState(StateWriter& out) const {
  out.PutValue<int64_t>(saved_time_);
  out.PutValue<uint64_t>(saved_missing_ ? 1 : 0);
}

bool ReadFileItemState(StateReader& in, FileItemState& state, std::string& why) {
  int64_t time = 0;
  uint64_t missing = 0;
  if (!in.GetValue(time) || !in.GetValue(missing) || missing > 1) {
    if (in.Skip(why)) why = "is damaged (its content does not hold together)";
    return false;
  }
  if (!in.Finish(why)) return false;
  state.time = time;
  state.missing = missing == 1;
  return true;
}

bool CheckFileThread::ReadState(StateReader& in, std::string& why) {
  FileItemState state;
  if (!ReadFileItemState(in, state, why)) return false;
  saved_ = true;
  saved_time_ = state.time;
  saved_missing_ = state.missing;
  return true;
}

}  // namespace sentrel

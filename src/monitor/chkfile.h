#ifndef SENTREL_MONITOR_CHKFILE_H_
#define SENTREL_MONITOR_CHKFILE_H_

#include <cstdint>
#include <string>

#include "monitor/basemon.h"
#include "platform/clock.h"

namespace sentrel {

// What a single-file item's check leaves in its status.
enum FileItemStatus : uint8_t {
  kFileNotFired = 1,
  kFileFired = 2,
  // Carried to the next check, which reports a file that is back as added.
  kFileMissing = 3,
};

// What a single-file item keeps in its saved state.
struct FileItemState {
  Instant time = 0;  // the last-write time the next check compares with
  bool missing = false;
};
// Reads the item's own part of a state file, checksum included; false (and
// why) when it does not hold together.
bool ReadFileItemState(StateReader& in, FileItemState& state, std::string& why);

// Watches one file. By default it fires when the file was not written since
// the previous check (a heartbeat or a log that went quiet) or is missing;
// with "IfChanged" it fires when the file was written. It can hold back while
// another process has the file open, or wait until it is released.
class CheckFileThread final : public BaseMonitoring {
 public:
  CheckFileThread(bool paused, Services& services);

  uint8_t Check() override;
  void Configure() override;
  PathVerdict ExplainPath(const std::string& path) const override;
  std::string DescribeSelection() const override;

  const IntParam& IfChanged() const { return *if_changed_; }
  const BoolParam& IgnoreFirst() const { return *ignore_first_; }
  const BoolParam& MustExist() const { return *must_exist_; }
  const BoolParam& CheckLocking() const { return *check_locking_; }
  const BoolParam& WaitUnlocking() const { return *wait_unlocking_; }

 protected:
  void WriteState(StateWriter& out) const override;
  bool ReadState(StateReader& in, std::string& why) override;

 private:
  // Whether the file at `path` is free of other processes, waiting for it to
  // be released when "WaitUnlocking" asks so. The wait gives up when the
  // item is stopped or asked for a new or fresh check.
  bool WaitForRelease(const std::string& path);
  // The first check of a run has no earlier time to compare with: whether
  // a file last written at `t` counts as written then.
  bool WrittenAtFirstCheck(Instant t) const;

  bool initial_check_ = true;
  Instant previous_time_ = 0;
  // What the state file holds (or will once saved): the previous time, and
  // whether the file was missing at the last check.
  Instant saved_time_ = 0;
  bool saved_missing_ = false;
  bool saved_ = false;
  IntParam* if_changed_;
  BoolParam* ignore_first_;
  BoolParam* must_exist_;
  BoolParam* check_locking_;
  BoolParam* wait_unlocking_;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHKFILE_H_

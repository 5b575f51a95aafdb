#ifndef SENTREL_LOADER_MONITOR_PROCESS_H_
#define SENTREL_LOADER_MONITOR_PROCESS_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/basemon.h"
#include "shell/services.h"

namespace sentrel {

// Reads a configuration file into items, one per block, starts them, and
// stops them all when it goes.
class MonitorProcess {
 public:
  explicit MonitorProcess(Services& services);
  ~MonitorProcess();
  MonitorProcess(const MonitorProcess&) = delete;
  MonitorProcess& operator=(const MonitorProcess&) = delete;

  // False when the file cannot be opened, or holds binary data rather than
  // text (nothing is created or started); true otherwise, whatever it held.
  // UTF-8 and UTF-16 with a byte-order mark read alike. An item whose block
  // cannot be applied (an invalid mask, say) is dropped with one console
  // line; the others run.
  // `notes`, when given, receives every remark on the file: lines nobody
  // took, values not taken as written, blocks and items that came to
  // nothing, and why a file could not be read.
  bool Load(const std::string& path, Diagnostics* notes = nullptr);

  // The item of `kind` (0 file, 1 directory), or none for any other kind.
  static std::shared_ptr<BaseMonitoring> CreateItem(int kind, bool paused, Services& services);

  // What a reload did.
  struct Reloaded {
    bool done = false;  // false: the file had an error; nothing changed
    int kept = 0, started = 0, stopped = 0;
  };
  // Reads `path` again as Load does (its remarks into `notes`). With an
  // error (and a file that is not whole is one) nothing changes. Otherwise
  // items whose block is unchanged go on untouched; the others end once their
  // running actions are done (waited for up to `wait_ms`), and the new and
  // changed ones start: a changed one only once its old self has ended, so
  // that the two never run at once and the new one finds the state the old
  // one saved. Calls must not overlap each other or StopAll.
  Reloaded Reload(const std::string& path, Diagnostics& notes, int wait_ms);

  // Asks every item to end, last first, without waiting, and forgets them.
  void StopAll();
  // With autostart off, Load builds the items but starts none of them (for
  // tools that only read configurations).
  void set_autostart(bool on) { autostart_ = on; }
  // Items loaded from now on make a single pass (see
  // BaseMonitoring::SetSinglePass).
  void set_single_pass(bool on) { single_pass_ = on; }
  // Items loaded from now on check whatever their schedule window says
  // (see BaseMonitoring::SetIgnoreWindow).
  void set_ignore_window(bool on) { ignore_window_ = on; }
  // An item left out for an error in its block is said only in the notes,
  // not on the console.
  void set_quiet(bool on) { quiet_ = on; }
  // A reload with any remark at all, not only an error, changes nothing.
  void set_strict(bool on) { strict_ = on; }
  // A file that is not whole (a block without its EOF line, no item at
  // all) is an error rather than a warning.
  void set_whole_only(bool on) { whole_only_ = on; }
  // Starts the items that a Load with autostart off left waiting (all but
  // the paused ones).
  void StartAll();
  // Waits up to `ms` for every started item thread to end.
  bool WaitStopped(int ms) { return tracker_->WaitIdle(ms); }

  // The items as they stand now; a reload on another thread may replace
  // them meanwhile, so this is a copy.
  std::vector<std::shared_ptr<BaseMonitoring>> Monitors() const {
    std::lock_guard<std::mutex> lock(monitors_mu_);
    return monitors_;
  }
  const std::shared_ptr<ThreadTracker>& tracker() const { return tracker_; }

 private:
  // Starts `item` once every item of `before` has ended, unless it is asked
  // to terminate meanwhile.
  void StartAfter(std::shared_ptr<BaseMonitoring> item,
                  std::vector<std::shared_ptr<BaseMonitoring>> before);

  Services& services_;
  std::shared_ptr<ThreadTracker> tracker_;
  // Written by Load, Reload and StopAll, one at a time; read by any thread
  // through Monitors().
  mutable std::mutex monitors_mu_;
  std::vector<std::shared_ptr<BaseMonitoring>> monitors_;
  // For each item: its block as read, and its state slot; a reload keeps
  // the items whose key is unchanged.
  std::vector<std::string> keys_;
  // Items taken out by a reload that may still be finishing their actions.
  std::vector<std::weak_ptr<BaseMonitoring>> retired_;
  bool autostart_ = true;
  bool single_pass_ = false;
  bool ignore_window_ = false;
  bool quiet_ = false;
  bool strict_ = false;
  bool whole_only_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_LOADER_MONITOR_PROCESS_H_

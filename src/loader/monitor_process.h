#ifndef SENTREL_LOADER_MONITOR_PROCESS_H_
#define SENTREL_LOADER_MONITOR_PROCESS_H_

#include <memory>
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

  // False when the file cannot be opened (nothing is created); true
  // otherwise, whatever it held. An item whose block cannot be applied (an
  // invalid mask, say) is dropped with one console line; the others run.
  // `notes`, when given, receives every remark on the file: lines nobody
  // took, values not taken as written, blocks and items that came to
  // nothing, and why a file could not be read.
  bool Load(const std::string& path, Diagnostics* notes = nullptr);

  // The item of `kind` (0 file, 1 directory), or none for any other kind.
  static std::shared_ptr<BaseMonitoring> CreateItem(int kind, bool paused, Services& services);

  // Asks every item to end, last first, without waiting, and forgets them.
  void StopAll();
  // With autostart off, Load builds the items but starts none of them (for
  // tools that only read configurations).
  void set_autostart(bool on) { autostart_ = on; }
  // Waits up to `ms` for every started item thread to end.
  bool WaitStopped(int ms) { return tracker_->WaitIdle(ms); }

  const std::vector<std::shared_ptr<BaseMonitoring>>& Monitors() const { return monitors_; }
  const std::shared_ptr<ThreadTracker>& tracker() const { return tracker_; }

 private:
  Services& services_;
  std::shared_ptr<ThreadTracker> tracker_;
  std::vector<std::shared_ptr<BaseMonitoring>> monitors_;
  bool autostart_ = true;
};

}  // namespace sentrel

#endif  // SENTREL_LOADER_MONITOR_PROCESS_H_

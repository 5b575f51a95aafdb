#ifndef SENTREL_MONITOR_CHKDIR_H_
#define SENTREL_MONITOR_CHKDIR_H_

#include "monitor/basemon.h"

namespace sentrel {

// Not built yet: its check reports nothing.
class CheckDirThread final : public BaseMonitoring {
 public:
  CheckDirThread(bool paused, Services& services) : BaseMonitoring(paused, services) {}
  uint8_t Check() override;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHKDIR_H_

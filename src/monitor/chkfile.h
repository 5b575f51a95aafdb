#ifndef SENTREL_MONITOR_CHKFILE_H_
#define SENTREL_MONITOR_CHKFILE_H_

#include "monitor/basemon.h"

namespace sentrel {

// Not built yet: its check reports nothing.
class CheckFileThread final : public BaseMonitoring {
 public:
  CheckFileThread(bool paused, Services& services) : BaseMonitoring(paused, services) {}
  uint8_t Check() override;
};

}  // namespace sentrel

#endif  // SENTREL_MONITOR_CHKFILE_H_

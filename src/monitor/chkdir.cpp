#include "monitor/chkdir.h"

namespace sentrel {

uint8_t CheckDirThread::Check() {
  TakeRebaseline();
  return 0;
}

}  // namespace sentrel

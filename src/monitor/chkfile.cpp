#include "monitor/chkfile.h"

namespace sentrel {

uint8_t CheckFileThread::Check() {
  TakeRebaseline();
  return 0;
}

}  // namespace sentrel

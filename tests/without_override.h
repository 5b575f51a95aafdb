#ifndef SENTREL_TESTS_WITHOUT_OVERRIDE_H_
#define SENTREL_TESTS_WITHOUT_OVERRIDE_H_

// Test support: permission bits that hold even for root, whom they do not
// bind otherwise (tests run as root in CI).

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <functional>
#include <thread>

namespace sentrel {

// Runs `fn` on a thread of its own that cannot pass over permission bits:
// the capabilities that let root read and search anything are dropped from
// that thread alone (capabilities belong to a thread on Linux), so the rest
// of the process keeps them. False, without running `fn`, when they could
// not be dropped.
inline bool RunWithoutOverridingPermissions(const std::function<void()>& fn) {
  bool dropped = false;
  std::thread worker([&] {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
      data[cap / 32].effective &= ~(1u << (cap % 32));
    }
    if (syscall(SYS_capset, &header, data) != 0) return;
    dropped = true;
    fn();
  });
  worker.join();
  return dropped;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_WITHOUT_OVERRIDE_H_

#ifndef SENTREL_TESTS_PRIVATE_MOUNTS_H_
#define SENTREL_TESTS_PRIVATE_MOUNTS_H_

// Test support: small file systems of a test's own (a tmpfs that fills up,
// a folder seen read-only), mounted in a mount namespace that only the
// test's process sees, so nothing shows on the machine or stays behind.
// Such a test runs in a child process of its own (user_namespace.h).

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "user_namespace.h"

namespace sentrel {

// The device a path lies on, to tell whether two folders share a file system.
inline dev_t DeviceOf(const std::string& path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_dev;
}

// Moves the calling thread into a mount namespace of its own. As root this
// needs no user namespace, and so works beside the helper threads that the
// sanitizers start; elsewhere a user namespace gives the power. False when
// the system allows neither.
inline bool EnterPrivateMounts() {
  if (geteuid() == 0 && unshare(CLONE_NEWNS) == 0) {
    // The machine's mounts are usually shared: without this, the test's
    // mounts would show in every namespace.
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
  return EnterUserNamespace(true);
}

// One mount, taken away again when the object goes.
class ScopedMount {
 public:
  ScopedMount() = default;
  ~ScopedMount() { Release(); }
  ScopedMount(const ScopedMount&) = delete;
  ScopedMount& operator=(const ScopedMount&) = delete;

  // A tmpfs at the existing folder `dir`, with mount `options` such as
  // "size=256k" or "nr_inodes=16".
  bool Tmpfs(const std::string& dir, const std::string& options, bool read_only = false) {
    const unsigned long flags = read_only ? MS_RDONLY : 0;
    if (mount("sentrel-test", dir.c_str(), "tmpfs", flags, options.c_str()) != 0) return false;
    dir_ = dir;
    return true;
  }

  // The folder `source` seen again, read-only, at the existing folder `dir`.
  bool ReadOnlyBind(const std::string& source, const std::string& dir) {
    if (mount(source.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
    dir_ = dir;
    // A remount must keep the flags that a user namespace locks in place.
    struct statvfs vfs {};
    unsigned long keep = 0;
    if (statvfs(dir.c_str(), &vfs) == 0) {
      if (vfs.f_flag & ST_NOSUID) keep |= MS_NOSUID;
      if (vfs.f_flag & ST_NODEV) keep |= MS_NODEV;
      if (vfs.f_flag & ST_NOEXEC) keep |= MS_NOEXEC;
      if (vfs.f_flag & ST_NOATIME) keep |= MS_NOATIME;
      if (vfs.f_flag & ST_NODIRATIME) keep |= MS_NODIRATIME;
      if (vfs.f_flag & ST_RELATIME) keep |= MS_RELATIME;
    }
    const unsigned long flags = MS_BIND | MS_REMOUNT | MS_RDONLY | keep;
    return mount(nullptr, dir.c_str(), nullptr, flags, nullptr) == 0;
  }

  void Release() {
    if (!dir_.empty()) umount2(dir_.c_str(), MNT_DETACH);
    dir_.clear();
  }

 private:
  std::string dir_;
};

}  // namespace sentrel

// Runs the test in a child process with a mount namespace of its own, or
// skips it where the system does not allow one.
#define SENTREL_RUN_WITH_PRIVATE_MOUNTS(flag)                                  \
  SENTREL_RUN_IN_CHILD_PROCESS(flag)                                           \
  if (!::sentrel::EnterPrivateMounts()) {                                      \
    GTEST_SKIP() << "no mount namespace here (needs root or user namespaces)"; \
  }

#endif  // SENTREL_TESTS_PRIVATE_MOUNTS_H_

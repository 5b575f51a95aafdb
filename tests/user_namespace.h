#ifndef SENTREL_TESTS_USER_NAMESPACE_H_
#define SENTREL_TESTS_USER_NAMESPACE_H_

// Test support: a test that needs powers or limits of its own (a lower
// system limit, a mount) runs again in a child process, which enters a user
// namespace where it has them without touching the machine's settings.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "child_process.h"

namespace sentrel {

namespace user_namespace_detail {
inline bool WriteTo(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}
}  // namespace user_namespace_detail

struct ChildRun {
  bool skipped = false;
  int code = -1;
  std::string output;
};

// Runs the current test again in a child process, with `flag` set in its
// environment.
inline ChildRun RunCurrentTestInChild(const char* flag) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  ChildProcess child({"/proc/self/exe", std::string("--gtest_filter=") + info->test_suite_name() +
                                            "." + info->name()},
                     "", {std::string(flag) + "=1"});
  ChildRun run;
  run.code = child.WaitExit(60000);
  run.output = child.output();
  run.skipped = run.output.find("[  SKIPPED ]") != std::string::npos;
  return run;
}

// In the test's own process: runs the test in a child process marked by
// `flag`, takes its outcome for this one's and returns. In that child: goes
// on with the test.
#define SENTREL_RUN_IN_CHILD_PROCESS(flag)                                       \
  if (std::getenv(flag) == nullptr) {                                            \
    const ::sentrel::ChildRun run = ::sentrel::RunCurrentTestInChild(flag);      \
    if (run.skipped) GTEST_SKIP() << "the system does not allow it here";        \
    EXPECT_EQ(run.code, 0) << run.output;                                        \
    return;                                                                      \
  }

// Moves this process into a user namespace of its own, where it is root,
// with a mount namespace of its own too when `with_mounts`. Only a process
// with a single thread can do so (the thread sanitizer keeps one of its
// own). False when the system does not allow it.
inline bool EnterUserNamespace(bool with_mounts) {
  using user_namespace_detail::WriteTo;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | (with_mounts ? CLONE_NEWNS : 0)) != 0) return false;
  WriteTo("/proc/self/setgroups", "deny");
  if (!WriteTo("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n")) return false;
  WriteTo("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
  return true;
}

// Inside such a namespace: limits the inotify watches that it may hold.
// Binds the watch instances made from now on; the machine keeps its limit.
inline bool LimitInotifyWatches(int max_watches) {
  return user_namespace_detail::WriteTo("/proc/sys/user/max_inotify_watches",
                                        std::to_string(max_watches) + "\n");
}

// Inside such a namespace: limits the inotify instances that it may hold.
inline bool LimitInotifyInstances(int max_instances) {
  return user_namespace_detail::WriteTo("/proc/sys/user/max_inotify_instances",
                                        std::to_string(max_instances) + "\n");
}

// Inside such a namespace with mounts: makes `target` show `source`.
inline bool BindMount(const std::string& source, const std::string& target) {
  return mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
}
inline void Unmount(const std::string& target) { umount2(target.c_str(), MNT_DETACH); }

}  // namespace sentrel

#endif  // SENTREL_TESTS_USER_NAMESPACE_H_

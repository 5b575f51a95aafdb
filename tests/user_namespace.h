#ifndef SENTREL_TESTS_USER_NAMESPACE_H_
#define SENTREL_TESTS_USER_NAMESPACE_H_

// Test support: system limits that a test may lower for itself alone, so
// that a real limit can be reached without touching the machine's settings.

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <string>

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

// Moves this process into a user namespace of its own, where it is root,
// and limits the inotify watches that namespace may hold to `max_watches`.
// The limit binds this process's watch instances made from now on; the rest
// of the machine keeps its own. Only a process with a single thread can do
// this. False when the system does not allow it.
inline bool EnterUserNamespaceWithWatchLimit(int max_watches) {
  using user_namespace_detail::WriteTo;
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER) != 0) return false;
  WriteTo("/proc/self/setgroups", "deny");
  if (!WriteTo("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n")) return false;
  WriteTo("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n");
  return WriteTo("/proc/sys/user/max_inotify_watches", std::to_string(max_watches) + "\n");
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_USER_NAMESPACE_H_

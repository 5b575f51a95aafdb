// Without a display the user's own processes play the part of windows.
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_map>

#include "platform/top_windows.h"

namespace sentrel {
namespace {

struct ProcessEntry {
  TopWindow window;
  unsigned long long started = 0;
};

// The start time (clock ticks after boot) from /proc/<pid>/stat; the name
// field may hold blanks and parentheses, so the fields are counted from the
// last ")".
bool StartTime(const std::string& pid, unsigned long long& started) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(stat.substr(close + 1));
  std::string field;
  // Fields 3 (state) to 21 come before the start time (field 22).
  for (int i = 3; i <= 21; ++i) rest >> field;
  return static_cast<bool>(rest >> started);
}

std::string CommandLine(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!raw.empty() && raw.back() == '\0') raw.pop_back();
  std::replace(raw.begin(), raw.end(), '\0', ' ');
  if (raw.size() > 4096) raw.resize(4096);
  return raw;
}

class ProcessWindows final : public WindowSystem {
 public:
  std::vector<TopWindow> List() override {
    std::vector<ProcessEntry> entries;
    const uid_t me = getuid();
    const pid_t self = getpid();
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return {};
    while (struct dirent* e = readdir(proc)) {
      char* end = nullptr;
      long pid = std::strtol(e->d_name, &end, 10);
      if (*end != '\0' || pid <= 1 || pid == self) continue;
      std::string name = e->d_name;
      struct stat st;
      if (stat(("/proc/" + name).c_str(), &st) != 0 || st.st_uid != me) continue;
      ProcessEntry entry;
      entry.window.id = static_cast<uint64_t>(pid);
      entry.window.title = CommandLine(name);
      // Kernel threads and exited processes have no command line: they are
      // no program a user started.
      if (entry.window.title.empty()) continue;
      if (!StartTime(name, entry.started)) continue;
      entries.push_back(std::move(entry));
    }
    closedir(proc);
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ProcessEntry& a, const ProcessEntry& b) {
                       if (a.started != b.started) return a.started > b.started;
                       return a.window.id > b.window.id;
                     });
    started_.clear();
    std::vector<TopWindow> out;
    for (ProcessEntry& e : entries) {
      started_[static_cast<pid_t>(e.window.id)] = e.started;
      out.push_back(std::move(e.window));
    }
    return out;
  }

  void RequestClose(const TopWindow& window) override { Signal(window, SIGTERM); }
  void ForceEnd(const TopWindow& window) override { Signal(window, SIGKILL); }

 private:
  // Signals the process that List() saw, never another one that took its
  // number meanwhile. A process handle (pidfd) holds on to the process it
  // was opened for; its start time, read once the handle is held, tells
  // whether that is still the one listed.
  void Signal(const TopWindow& window, int sig) const {
    const pid_t pid = static_cast<pid_t>(window.id);
    if (pid <= 1 || pid == getpid()) return;
    auto listed = started_.find(pid);
    if (listed == started_.end()) return;
    unsigned long long started = 0;
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    const long fd = syscall(SYS_pidfd_open, pid, 0);
    if (fd >= 0) {
      if (StartTime(std::to_string(pid), started) && started == listed->second) {
        syscall(SYS_pidfd_send_signal, static_cast<int>(fd), sig, nullptr, 0);
      }
      close(static_cast<int>(fd));
      return;
    }
    if (errno == ESRCH) return;  // gone
#endif
    // No process handle (an older kernel, no descriptor left): the check
    // narrows the window to the time between two calls.
    if (StartTime(std::to_string(pid), started) && started == listed->second) kill(pid, sig);
  }

  std::unordered_map<pid_t, unsigned long long> started_;
};

}  // namespace

std::unique_ptr<WindowSystem> OpenProcessWindows() { return std::make_unique<ProcessWindows>(); }

}  // namespace sentrel

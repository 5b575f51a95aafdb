#include <errno.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/dir_list.h"
#include "platform/dir_watch.h"

namespace sentrel {

struct DirWatchService::Impl {
  std::recursive_mutex mu;
  int fd = -1;
  int wake_fd = -1;
  bool reader_started = false;
  std::unordered_set<DirWatchClient*> clients;
  std::unordered_map<int, std::vector<DirWatchClient*>> by_watch;
  std::unordered_map<DirWatchClient*, int64_t> timers;
  uint64_t overflows = 0;
  int watch_budget = -1;  // new watches a test still allows; -1: no limit

  void StartReader();
  // Files a new watch for `client`; -1 when `wd` is none or beyond a
  // test's budget.
  int Added(DirWatchClient* client, int wd);
  void Run();
  void Dispatch(const struct inotify_event& ev);
  void FireTimers();
  int PollTimeout();
  void Poke() {
    if (wake_fd < 0) return;
    uint64_t one = 1;
    ssize_t n = write(wake_fd, &one, sizeof one);
    (void)n;  // a full counter already wakes the reader
  }
};

namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

}  // namespace

DirWatchService& DirWatchService::Shared() {
  // Never destroyed: item threads may still stop their watchers while the
  // process ends.
  static DirWatchService* service = new DirWatchService();
  return *service;
}

DirWatchService::DirWatchService() : impl_(new Impl) {}

std::recursive_mutex& DirWatchService::mutex() { return impl_->mu; }

int64_t DirWatchService::NowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void DirWatchService::Impl::StartReader() {
  if (reader_started) return;
  fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return;  // tried again by the next client
  wake_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  try {
    std::thread([this] { Run(); }).detach();
    reader_started = true;
  } catch (const std::system_error&) {
    close(fd);
    fd = -1;
    if (wake_fd >= 0) close(wake_fd);
    wake_fd = -1;
  }
}

void DirWatchService::Register(DirWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  impl_->StartReader();
  impl_->clients.insert(client);
}

void DirWatchService::Unregister(DirWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  impl_->clients.erase(client);
  impl_->timers.erase(client);
  for (auto it = impl_->by_watch.begin(); it != impl_->by_watch.end();) {
    auto& list = it->second;
    list.erase(std::remove(list.begin(), list.end(), client), list.end());
    if (list.empty()) {
      inotify_rm_watch(impl_->fd, it->first);
      it = impl_->by_watch.erase(it);
    } else {
      ++it;
    }
  }
}

int DirWatchService::AddWatch(DirWatchClient* client, const std::string& path, bool follow_link) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  if (impl_->fd < 0 || impl_->clients.count(client) == 0) return -1;
  const uint32_t mask = kWatchMask | (follow_link ? 0u : IN_DONT_FOLLOW);
  // A trailing "/" makes the system follow a link in the last place despite
  // IN_DONT_FOLLOW: a folder swapped for a link would be watched through it.
  std::string name = path;
  if (!follow_link) {
    while (name.size() > 1 && name.back() == '/') name.pop_back();
  }
  return impl_->Added(client, inotify_add_watch(impl_->fd, name.c_str(), mask));
}

int DirWatchService::AddWatch(DirWatchClient* client, const std::string& path,
                              const DirectoryListing& listing) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  if (impl_->fd < 0 || impl_->clients.count(client) == 0 || listing.fd_ < 0) return -1;
  // The descriptor's entry in /proc leads to the open folder itself.
  const std::string self = "/proc/self/fd/" + std::to_string(listing.fd_);
  int wd = inotify_add_watch(impl_->fd, self.c_str(), kWatchMask);
  if (wd < 0 && errno == ENOENT) {
    // No /proc: the path, without following a link in its last place.
    return AddWatch(client, path, false);
  }
  return impl_->Added(client, wd);
}

int DirWatchService::Impl::Added(DirWatchClient* client, int wd) {
  if (wd < 0) return -1;
  if (watch_budget >= 0 && by_watch.count(wd) == 0) {
    if (watch_budget == 0) {
      inotify_rm_watch(fd, wd);
      return -1;
    }
    --watch_budget;
  }
  auto& list = by_watch[wd];
  if (std::find(list.begin(), list.end(), client) == list.end()) list.push_back(client);
  return wd;
}

void DirWatchService::RemoveWatch(DirWatchClient* client, int watch) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->by_watch.find(watch);
  if (it == impl_->by_watch.end()) return;
  auto& list = it->second;
  list.erase(std::remove(list.begin(), list.end(), client), list.end());
  if (list.empty()) {
    inotify_rm_watch(impl_->fd, watch);
    impl_->by_watch.erase(it);
  }
}

uint64_t DirWatchService::OverflowCount() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  return impl_->overflows;
}

void DirWatchService::FailWatchesAfterForTesting(int n) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  impl_->watch_budget = n;
}

void DirWatchService::InjectOverflowForTesting() {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  struct inotify_event ev = {};
  ev.wd = -1;
  ev.mask = IN_Q_OVERFLOW;
  impl_->Dispatch(ev);
}

void DirWatchService::SetTimer(DirWatchClient* client, int delay_ms) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  if (impl_->clients.count(client) == 0) return;
  impl_->timers[client] = NowMs() + delay_ms;
  impl_->Poke();
}

int DirWatchService::Impl::PollTimeout() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  if (timers.empty()) return -1;
  int64_t first = timers.begin()->second;
  for (const auto& [client, due] : timers) first = std::min(first, due);
  const int64_t wait = first - DirWatchService::NowMs();
  return wait < 0 ? 0 : static_cast<int>(std::min<int64_t>(wait, 60000));
}

void DirWatchService::Impl::FireTimers() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  const int64_t now = DirWatchService::NowMs();
  std::vector<DirWatchClient*> due;
  for (auto it = timers.begin(); it != timers.end();) {
    if (it->second <= now) {
      due.push_back(it->first);
      it = timers.erase(it);
    } else {
      ++it;
    }
  }
  // A callback may unregister another client: ask again before each call.
  for (DirWatchClient* c : due) {
    if (clients.count(c) != 0) c->OnDirTimer();
  }
}

void DirWatchService::Impl::Dispatch(const struct inotify_event& ev) {
  if (ev.mask & IN_Q_OVERFLOW) {
    ++overflows;
    std::vector<DirWatchClient*> all(clients.begin(), clients.end());
    for (DirWatchClient* c : all) {
      if (clients.count(c) != 0) c->OnDirOverflow();
    }
    return;
  }
  auto it = by_watch.find(ev.wd);
  if (it == by_watch.end()) return;  // a watch already let go
  DirWatchEvent out;
  out.watch = ev.wd;
  if (ev.len > 0) out.name = std::string_view(ev.name);
  if (ev.mask & (IN_CREATE | IN_MOVED_TO)) out.flags |= kWatchNameChange | kWatchEntryAppeared;
  if (ev.mask & (IN_DELETE | IN_MOVED_FROM)) out.flags |= kWatchNameChange;
  if (ev.mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) out.flags |= kWatchWriteChange;
  if (ev.mask & IN_ISDIR) {
    out.flags |= kWatchIsDirectory;
  } else if (ev.mask & (IN_CREATE | IN_MODIFY)) {
    out.flags |= kWatchMayGoOn;
  }
  if (ev.mask & IN_CLOSE_WRITE) out.flags |= kWatchWriteEnded;
  std::vector<DirWatchClient*> targets = it->second;
  if (ev.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
    out.flags |= kWatchGone;
    if (ev.mask & IN_IGNORED) by_watch.erase(it);
  }
  if (out.flags == 0) return;
  for (DirWatchClient* c : targets) {
    if (clients.count(c) != 0) c->OnDirEvent(out);
  }
}

void DirWatchService::Impl::Run() {
  alignas(struct inotify_event) char buf[64 * 1024];
  for (;;) {
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
    const int n = poll(fds, wake_fd >= 0 ? 2 : 1, PollTimeout());
    if (n < 0 && errno != EINTR) {
      // Nothing sensible is left to wait on; keep timers alive at least.
      struct timespec ts = {0, 50 * 1000 * 1000};
      nanosleep(&ts, nullptr);
    }
    if (wake_fd >= 0 && (fds[1].revents & POLLIN)) {
      uint64_t count;
      ssize_t r = read(wake_fd, &count, sizeof count);
      (void)r;
    }
    if (fds[0].revents & POLLIN) {
      for (;;) {
        const ssize_t len = read(fd, buf, sizeof buf);
        if (len <= 0) break;
        std::lock_guard<std::recursive_mutex> lock(mu);
        for (ssize_t off = 0; off < len;) {
          const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
          Dispatch(*ev);
          off += static_cast<ssize_t>(sizeof(struct inotify_event) + ev->len);
        }
      }
    }
    FireTimers();
  }
}

}  // namespace sentrel

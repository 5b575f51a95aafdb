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

#include "platform/dir_list_posix.h"
#include "platform/dir_watch.h"
#include "platform/watch_timers.h"

namespace sentrel {
namespace {

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

// Whether two paths lead to the same folder now.
bool SameFolder(const std::string& a, const std::string& b) {
  DirectoryListing da, db;
  uint64_t dev_a = 0, ino_a = 0, dev_b = 0, ino_b = 0;
  return da.Open(a, false) && db.Open(b, false) && da.Identity(dev_a, ino_a) &&
         db.Identity(dev_b, ino_b) && dev_a == dev_b && ino_a == ino_b;
}

// One client's tree: a watch per folder, by the path it was reached by.
struct Tree {
  std::string root;  // ends in "/"
  TreeWatchOptions options;
  int root_watch = -1;
  std::unordered_map<int, std::string> paths;  // watch -> folder path ending in "/"
};

}  // namespace

struct DirWatchService::Impl {
  std::recursive_mutex mu;
  int fd = -1;
  int wake_fd = -1;
  bool reader_started = false;
  std::unordered_map<TreeWatchClient*, Tree> clients;
  std::unordered_map<int, std::vector<TreeWatchClient*>> by_watch;
  WatchTimers timers;
  uint64_t overflows = 0;
  int watch_budget = -1;  // new watches a test still allows; -1: no limit

  void StartReader();
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

  int AddWatch(TreeWatchClient* client, const std::string& path, bool follow_link);
  // Files a new watch for `client`; -1 when `wd` is none or beyond a
  // test's budget.
  int Added(TreeWatchClient* client, int wd);
  void RemoveWatch(TreeWatchClient* client, int watch);
  void WatchTree(TreeWatchClient* client, Tree& tree, const std::string& path, bool is_root);
  void WatchTree(TreeWatchClient* client, Tree& tree, const std::string& path, bool is_root,
                 std::vector<int>& above);
  void ForgetTree(TreeWatchClient* client, Tree& tree, const std::string& path);
  void ForgetAll(TreeWatchClient* client, Tree& tree);
  void OnEvent(TreeWatchClient* client, Tree& tree, const struct inotify_event& ev);
};

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

void DirWatchService::Register(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  impl_->StartReader();
  impl_->clients.try_emplace(client);
}

void DirWatchService::Unregister(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it != impl_->clients.end()) {
    impl_->ForgetAll(client, it->second);
    impl_->clients.erase(it);
  }
  impl_->timers.Cancel(client);
}

bool DirWatchService::Watch(TreeWatchClient* client, const std::string& root,
                            const TreeWatchOptions& options) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it == impl_->clients.end()) return false;
  Tree& tree = it->second;
  impl_->ForgetAll(client, tree);
  tree.root = root;
  tree.options = options;
  impl_->WatchTree(client, tree, root, true);
  return tree.root_watch >= 0;
}

bool DirWatchService::OfferFolder(TreeWatchClient* client, const std::string& path,
                                  const DirectoryListing& listing) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (impl_->fd < 0 || it == impl_->clients.end() || !listing.impl_) return false;
  Tree& tree = it->second;
  if (tree.root_watch < 0) return false;
  if (!tree.options.subtree) return true;
  // The descriptor's entry in /proc leads to the open folder itself.
  const std::string self = "/proc/self/fd/" + std::to_string(listing.impl_->fd);
  int wd = impl_->Added(client, inotify_add_watch(impl_->fd, self.c_str(), kWatchMask));
  if (wd < 0 && errno == ENOENT) {
    // No /proc: the path, without following a link in its last place.
    wd = impl_->AddWatch(client, path, false);
  }
  if (wd < 0) return false;
  // A folder has one watch, whatever it is called: the walk names it by the
  // path it reached it through, which is the one that counts now.
  tree.paths[wd] = path;
  return true;
}

void DirWatchService::Unwatch(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it != impl_->clients.end()) impl_->ForgetAll(client, it->second);
}

bool DirWatchService::Watching(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  return it != impl_->clients.end() && it->second.root_watch >= 0;
}

size_t DirWatchService::WatchCount(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  return it == impl_->clients.end() ? 0 : it->second.paths.size();
}

int DirWatchService::Impl::AddWatch(TreeWatchClient* client, const std::string& path,
                                    bool follow_link) {
  if (fd < 0) return -1;
  const uint32_t mask = kWatchMask | (follow_link ? 0u : IN_DONT_FOLLOW);
  // A trailing "/" makes the system follow a link in the last place despite
  // IN_DONT_FOLLOW: a folder swapped for a link would be watched through it.
  std::string name = path;
  if (!follow_link) {
    while (name.size() > 1 && name.back() == '/') name.pop_back();
  }
  return Added(client, inotify_add_watch(fd, name.c_str(), mask));
}

int DirWatchService::Impl::Added(TreeWatchClient* client, int wd) {
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

void DirWatchService::Impl::RemoveWatch(TreeWatchClient* client, int watch) {
  auto it = by_watch.find(watch);
  if (it == by_watch.end()) return;
  auto& list = it->second;
  list.erase(std::remove(list.begin(), list.end(), client), list.end());
  if (list.empty()) {
    inotify_rm_watch(fd, watch);
    by_watch.erase(it);
  }
}

// The watch is added before the folder is listed, so that a subfolder
// created during the listing is caught by one or the other.
void DirWatchService::Impl::WatchTree(TreeWatchClient* client, Tree& tree,
                                      const std::string& path, bool is_root) {
  std::vector<int> above;
  WatchTree(client, tree, path, is_root, above);
}

void DirWatchService::Impl::WatchTree(TreeWatchClient* client, Tree& tree,
                                      const std::string& path, bool is_root,
                                      std::vector<int>& above) {
  const int wd = AddWatch(client, path, is_root);
  if (wd < 0) return;
  // A folder has one watch, whatever it is called: the watch of a folder
  // being listed further up means this is that folder mounted again inside
  // itself, and it was listed already.
  if (std::find(above.begin(), above.end(), wd) != above.end()) return;
  // Already watched under another name that still leads to it: the new
  // name passed through a link (a parent replaced after the news left).
  // The folder keeps its own name, or going with the link's would take
  // its watch along. A name that no longer leads to it (moved while
  // events were lost) gives way.
  auto known = tree.paths.find(wd);
  if (known != tree.paths.end() && known->second != path && SameFolder(known->second, path)) {
    return;
  }
  tree.paths[wd] = path;
  if (is_root) tree.root_watch = wd;
  // The client's own walk names the folders below.
  if (!tree.options.subtree || tree.options.client_lists_folders) return;
  if (!is_root && path.size() > tree.root.size() &&
      static_cast<size_t>(std::count(path.begin() + static_cast<ptrdiff_t>(tree.root.size()),
                                     path.end(), '/')) >= tree.options.max_depth) {
    return;  // as deep as the walk goes
  }

  DirectoryListing dir;
  if (!dir.Open(path, is_root)) return;
  std::vector<std::string> subdirs;
  DirEntryInfo e;
  while (dir.Next(e)) {
    if (e.is_directory && e.name != "." && e.name != "..") subdirs.emplace_back(e.name);
  }
  above.push_back(wd);
  for (const std::string& name : subdirs) WatchTree(client, tree, path + name + "/", false, above);
  above.pop_back();
}

void DirWatchService::Impl::ForgetTree(TreeWatchClient* client, Tree& tree,
                                       const std::string& path) {
  std::vector<int> gone;
  for (const auto& [wd, p] : tree.paths) {
    if (p.compare(0, path.size(), path) == 0) gone.push_back(wd);
  }
  for (int wd : gone) {
    RemoveWatch(client, wd);
    tree.paths.erase(wd);
    if (wd == tree.root_watch) tree.root_watch = -1;
  }
}

void DirWatchService::Impl::ForgetAll(TreeWatchClient* client, Tree& tree) {
  for (const auto& [wd, p] : tree.paths) RemoveWatch(client, wd);
  tree.paths.clear();
  tree.root_watch = -1;
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

void DirWatchService::SetTimer(TreeWatchClient* client, int delay_ms) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  if (impl_->clients.count(client) == 0) return;
  impl_->timers.Set(client, NowMs() + delay_ms);
  impl_->Poke();
}

int DirWatchService::Impl::PollTimeout() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  const int64_t wait = timers.WaitMs(DirWatchService::NowMs());
  return wait < 0 ? -1 : static_cast<int>(wait);
}

void DirWatchService::Impl::FireTimers() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  const std::vector<TreeWatchClient*> due = timers.TakeDue(DirWatchService::NowMs());
  // A callback may unregister another client: ask again before each call.
  for (TreeWatchClient* c : due) {
    if (clients.count(c) != 0) c->OnTreeTimer();
  }
}

void DirWatchService::Impl::Dispatch(const struct inotify_event& ev) {
  if (ev.mask & IN_Q_OVERFLOW) {
    ++overflows;
    std::vector<TreeWatchClient*> all;
    for (const auto& [client, tree] : clients) all.push_back(client);
    for (TreeWatchClient* c : all) {
      auto it = clients.find(c);
      if (it == clients.end()) continue;
      Tree& tree = it->second;
      // Subfolders created while news was lost have no watch yet.
      if (tree.options.subtree && !tree.options.client_lists_folders && tree.root_watch >= 0) {
        WatchTree(c, tree, tree.root, true);
      }
      TreeChange change;
      change.kind = TreeChange::Kind::kLost;
      change.folder = tree.root;
      c->OnTreeChange(change);
    }
    return;
  }
  auto it = by_watch.find(ev.wd);
  if (it == by_watch.end()) return;  // a watch already let go
  const std::vector<TreeWatchClient*> targets = it->second;
  if (ev.mask & IN_IGNORED) by_watch.erase(it);
  for (TreeWatchClient* c : targets) {
    auto tree = clients.find(c);
    if (tree != clients.end()) OnEvent(c, tree->second, ev);
  }
}

void DirWatchService::Impl::OnEvent(TreeWatchClient* client, Tree& tree,
                                    const struct inotify_event& ev) {
  auto it = tree.paths.find(ev.wd);
  if (it == tree.paths.end()) return;

  if (ev.mask & (IN_IGNORED | IN_DELETE_SELF | IN_UNMOUNT)) {
    // The folder is gone. Its parent tells of that, unless it is the root.
    const bool root = ev.wd == tree.root_watch;
    const std::string folder = it->second;
    RemoveWatch(client, ev.wd);
    tree.paths.erase(it);
    TreeChange change;
    if (root) {
      tree.root_watch = -1;
      change.kind = TreeChange::Kind::kRootGone;
      change.folder = folder;
    } else {
      // Its parent hears of it as well, unless it went in a way nobody
      // announces (a file system unmounted under it): said as the parent's.
      const size_t cut = folder.find_last_of('/', folder.size() - 2);
      if (cut == std::string::npos) return;
      const std::string parent = folder.substr(0, cut + 1);
      const std::string name = folder.substr(cut + 1, folder.size() - cut - 2);
      change.folder = parent;
      change.name = name;
      change.named = true;
      change.is_dir = true;
      client->OnTreeChange(change);
      return;
    }
    client->OnTreeChange(change);
    return;
  }

  const bool named = (ev.mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) != 0;
  const bool written = (ev.mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB)) != 0;
  if (!named && !written) return;
  const bool is_dir = (ev.mask & IN_ISDIR) != 0;
  const std::string_view name = ev.len > 0 ? std::string_view(ev.name) : std::string_view();
  // Kept: the callbacks below may rewrite the tree's paths.
  const std::string folder = it->second;
  if (is_dir && !name.empty() && named && tree.options.subtree) {
    const std::string child = folder + std::string(name) + "/";
    // Its old watches, if any, stay with it wherever it went.
    ForgetTree(client, tree, child);
    if ((ev.mask & (IN_CREATE | IN_MOVED_TO)) && !tree.options.client_lists_folders) {
      WatchTree(client, tree, child, false);
    }
  }
  const bool counts = !is_dir || tree.options.dir_names || (tree.options.subtree && named);
  if (!counts) return;
  TreeChange change;
  change.folder = folder;
  change.name = name;
  change.named = named;
  change.appeared = (ev.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
  change.is_dir = is_dir;
  change.may_go_on = !is_dir && (ev.mask & (IN_CREATE | IN_MODIFY)) != 0;
  change.write_ended = (ev.mask & IN_CLOSE_WRITE) != 0;
  client->OnTreeChange(change);
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

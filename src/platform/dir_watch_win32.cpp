// One handle per watched tree, read with ReadDirectoryChangesW; every read
// completes on one completion port that the reader thread waits on.
#include <algorithm>
#include <memory>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/dir_watch.h"
#include "platform/watch_timers.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// The completion key that only wakes the reader (for a new timer).
constexpr ULONG_PTR kPokeKey = 0;
// What the system reports of each tree. A folder's own name is asked for
// only where it counts. Attribute changes are asked for too: a last-write
// time set on its own may be filed under them (as Wine does), and a wake
// that finds nothing changed costs one check.
constexpr DWORD kFileFilter =
    FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_ATTRIBUTES;
constexpr DWORD kBufferBytes = 64 * 1024;

// One watched tree. It lives until the system has given back its buffer:
// a read that was pending when the watch ended still completes (cancelled).
struct TreeHandle {
  TreeWatchClient* client = nullptr;
  std::string root;  // ends in "\"
  TreeWatchOptions options;
  ULONG_PTR key = 0;
  HANDLE dir = INVALID_HANDLE_VALUE;
  OVERLAPPED overlapped = {};
  std::vector<DWORD> buffer = std::vector<DWORD>(kBufferBytes / sizeof(DWORD));
  bool reading = false;  // a read is pending
  bool ended = false;    // the client let it go, or the root went

  DWORD Filter() const {
    return kFileFilter |
           (options.dir_names || options.subtree ? FILE_NOTIFY_CHANGE_DIR_NAME : 0);
  }
  bool Arm() {
    overlapped = {};
    reading = ReadDirectoryChangesW(dir, buffer.data(), kBufferBytes, options.subtree, Filter(),
                                    nullptr, &overlapped, nullptr) != 0;
    return reading;
  }
  void Close() {
    ended = true;
    if (dir != INVALID_HANDLE_VALUE) {
      // Ends a pending read too; its completion still comes.
      CancelIoEx(dir, nullptr);
      CloseHandle(dir);
      dir = INVALID_HANDLE_VALUE;
    }
  }
};

}  // namespace

struct DirWatchService::Impl {
  std::recursive_mutex mu;
  HANDLE port = nullptr;
  bool reader_started = false;
  ULONG_PTR next_key = 1;
  std::unordered_map<TreeWatchClient*, TreeHandle*> clients;  // nullptr: not watching
  // Every tree whose buffer the system may still hold, by key.
  std::unordered_map<ULONG_PTR, std::unique_ptr<TreeHandle>> trees;
  WatchTimers timers;
  uint64_t overflows = 0;
  int watch_budget = -1;

  void StartReader();
  void Run();
  void Completed(ULONG_PTR key, DWORD bytes, DWORD error);
  void Deliver(TreeHandle& tree, DWORD bytes);
  void EndTree(TreeHandle* tree);
  void FireTimers();
  DWORD WaitTimeout();
  void Lost(TreeHandle& tree);
};

DirWatchService& DirWatchService::Shared() {
  // Never destroyed: item threads may still stop their watchers while the
  // process ends.
  static DirWatchService* service = new DirWatchService();
  return *service;
}

DirWatchService::DirWatchService() : impl_(new Impl) {}

std::recursive_mutex& DirWatchService::mutex() { return impl_->mu; }

int64_t DirWatchService::NowMs() { return static_cast<int64_t>(GetTickCount64()); }

void DirWatchService::Impl::StartReader() {
  if (reader_started) return;
  if (port == nullptr) port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
  if (port == nullptr) return;  // tried again by the next client
  try {
    std::thread([this] { Run(); }).detach();
    reader_started = true;
  } catch (const std::system_error&) {
  }
}

void DirWatchService::Register(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  impl_->StartReader();
  impl_->clients.try_emplace(client, nullptr);
}

void DirWatchService::Impl::EndTree(TreeHandle* tree) {
  if (tree == nullptr) return;
  tree->Close();
  // Without a pending read nothing more will come for it.
  if (!tree->reading) trees.erase(tree->key);
}

void DirWatchService::Unregister(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it != impl_->clients.end()) {
    impl_->EndTree(it->second);
    impl_->clients.erase(it);
  }
  impl_->timers.Cancel(client);
}

bool DirWatchService::Watch(TreeWatchClient* client, const std::string& root,
                            const TreeWatchOptions& options) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it == impl_->clients.end() || impl_->port == nullptr) return false;
  impl_->EndTree(it->second);
  it->second = nullptr;
  if (impl_->watch_budget == 0) return false;

  auto tree = std::make_unique<TreeHandle>();
  tree->client = client;
  tree->root = root;
  if (tree->root.empty() || (tree->root.back() != '\\' && tree->root.back() != '/')) {
    tree->root.push_back('\\');
  }
  for (char& c : tree->root) {
    if (c == '/') c = '\\';
  }
  tree->options = options;
  // Others may rename and delete inside the tree, and the root itself, while
  // it is watched.
  tree->dir = CreateFileW(WidePath(tree->root).c_str(), FILE_LIST_DIRECTORY,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED,
                          nullptr);
  if (tree->dir == INVALID_HANDLE_VALUE) return false;
  tree->key = impl_->next_key++;
  if (CreateIoCompletionPort(tree->dir, impl_->port, tree->key, 0) == nullptr || !tree->Arm()) {
    tree->Close();
    return false;
  }
  if (impl_->watch_budget > 0) --impl_->watch_budget;
  it->second = tree.get();
  impl_->trees.emplace(tree->key, std::move(tree));
  return true;
}

// The handle on the root tells of the whole tree, folders opened or not.
bool DirWatchService::OfferFolder(TreeWatchClient* client, const std::string&,
                                  const DirectoryListing&) {
  return Watching(client);
}

void DirWatchService::Unwatch(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  if (it == impl_->clients.end()) return;
  impl_->EndTree(it->second);
  it->second = nullptr;
}

bool DirWatchService::Watching(TreeWatchClient* client) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  auto it = impl_->clients.find(client);
  return it != impl_->clients.end() && it->second != nullptr;
}

size_t DirWatchService::WatchCount(TreeWatchClient* client) {
  return Watching(client) ? 1 : 0;
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
  ++impl_->overflows;
  std::vector<TreeHandle*> all;
  for (const auto& [client, tree] : impl_->clients) {
    if (tree != nullptr) all.push_back(tree);
  }
  for (TreeHandle* t : all) {
    if (!t->ended) impl_->Lost(*t);
  }
}

void DirWatchService::SetTimer(TreeWatchClient* client, int delay_ms) {
  std::lock_guard<std::recursive_mutex> lock(impl_->mu);
  if (impl_->clients.count(client) == 0) return;
  impl_->timers.Set(client, NowMs() + delay_ms);
  if (impl_->port != nullptr) PostQueuedCompletionStatus(impl_->port, 0, kPokeKey, nullptr);
}

void DirWatchService::Impl::Lost(TreeHandle& tree) {
  TreeChange change;
  change.kind = TreeChange::Kind::kLost;
  change.folder = tree.root;
  tree.client->OnTreeChange(change);
}

DWORD DirWatchService::Impl::WaitTimeout() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  const int64_t wait = timers.WaitMs(DirWatchService::NowMs());
  return wait < 0 ? INFINITE : static_cast<DWORD>(wait);
}

void DirWatchService::Impl::FireTimers() {
  std::lock_guard<std::recursive_mutex> lock(mu);
  const std::vector<TreeWatchClient*> due = timers.TakeDue(DirWatchService::NowMs());
  // A callback may unregister another client: ask again before each call.
  for (TreeWatchClient* c : due) {
    if (clients.count(c) != 0) c->OnTreeTimer();
  }
}

// The records of one completed read: each names an entry by its path below
// the root ("sub\dir\name").
void DirWatchService::Impl::Deliver(TreeHandle& tree, DWORD bytes) {
  const auto* base = reinterpret_cast<const BYTE*>(tree.buffer.data());
  std::string folder;
  for (DWORD offset = 0; offset < bytes;) {
    const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
    const std::string relative =
        Narrow(std::wstring_view(info->FileName, info->FileNameLength / sizeof(wchar_t)));
    const size_t slash = relative.rfind('\\');
    folder = tree.root;
    std::string name = relative;
    if (slash != std::string::npos) {
      folder += relative.substr(0, slash + 1);
      name = relative.substr(slash + 1);
    }
    const DWORD action = info->Action;
    const bool appeared = action == FILE_ACTION_ADDED || action == FILE_ACTION_RENAMED_NEW_NAME;
    const bool written = action == FILE_ACTION_MODIFIED;
    // What is gone cannot be asked whether it was a folder.
    bool is_dir = false;
    if (appeared || written) {
      const DWORD attributes = GetFileAttributesW(WidePath(tree.root + relative).c_str());
      is_dir = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
               !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    }
    // A folder is "written" whenever an entry in it changes; that entry
    // tells of the change itself, in a subtree watch, and outside one it
    // is no change of the watched folder's files.
    const bool counts = !(written && is_dir);
    if (counts && !name.empty()) {
      TreeChange change;
      change.folder = folder;
      change.name = name;
      change.named = !written;
      change.appeared = appeared;
      change.is_dir = is_dir;
      // The system never says when a writer is done: a pause tells.
      change.may_go_on = !is_dir && (action == FILE_ACTION_ADDED || written);
      tree.client->OnTreeChange(change);
      if (tree.ended) return;  // the client let go of it meanwhile
    }
    if (info->NextEntryOffset == 0) break;
    offset += info->NextEntryOffset;
  }
}

void DirWatchService::Impl::Completed(ULONG_PTR key, DWORD bytes, DWORD error) {
  auto it = trees.find(key);
  if (it == trees.end()) return;
  // The read stays counted as pending while its buffer is read here, so
  // that a client letting go from a callback does not free it under us.
  TreeHandle& tree = *it->second;
  if (tree.ended) {
    // The buffer is ours again: the tree can go.
    trees.erase(it);
    return;
  }
  if (error == ERROR_SUCCESS && bytes == 0) {
    // The system had more news than the buffer held and kept none of it.
    ++overflows;
    Lost(tree);
  } else if (error == ERROR_NOTIFY_ENUM_DIR) {
    ++overflows;
    Lost(tree);
  } else if (error == ERROR_SUCCESS) {
    Deliver(tree, bytes);
  }
  if (tree.ended) {
    trees.erase(key);
    return;
  }
  tree.reading = false;
  const bool failed = error != ERROR_SUCCESS && error != ERROR_NOTIFY_ENUM_DIR;
  if (failed || !tree.Arm()) {
    // The root went (deleted, its volume gone): the watch is over.
    TreeWatchClient* client = tree.client;
    const std::string root = tree.root;
    tree.Close();
    auto owner = clients.find(client);
    if (owner != clients.end() && owner->second == &tree) owner->second = nullptr;
    trees.erase(key);
    if (owner != clients.end()) {
      TreeChange change;
      change.kind = TreeChange::Kind::kRootGone;
      change.folder = root;
      client->OnTreeChange(change);
    }
  }
}

void DirWatchService::Impl::Run() {
  for (;;) {
    DWORD bytes = 0;
    ULONG_PTR key = 0;
    OVERLAPPED* overlapped = nullptr;
    const BOOL ok = GetQueuedCompletionStatus(port, &bytes, &key, &overlapped, WaitTimeout());
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    if (overlapped != nullptr && key != kPokeKey) {
      std::lock_guard<std::recursive_mutex> lock(mu);
      Completed(key, bytes, error);
    }
    FireTimers();
  }
}

}  // namespace sentrel

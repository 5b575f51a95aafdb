#ifndef SENTREL_PLATFORM_DIR_WATCH_H_
#define SENTREL_PLATFORM_DIR_WATCH_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace sentrel {

class DirectoryListing;

// What a tree watch tells its client.
struct TreeChange {
  enum class Kind : uint8_t {
    kEntry,     // an entry of `folder` was created, deleted, moved or written
    kLost,      // news was lost: anything in the tree may have changed
    kRootGone,  // the watched folder itself is gone; its watch has ended
  };
  Kind kind = Kind::kEntry;
  // The folder the change happened in: the root or a folder below it, its
  // path ending in a separator. The root for kLost and kRootGone.
  std::string_view folder;
  // The entry's name inside `folder` (kEntry only).
  std::string_view name;
  // What the system told of the entry, as far as it tells (kEntry only).
  bool named = false;     // created, deleted or moved, rather than written
  bool appeared = false;  // created or moved in
  bool is_dir = false;    // the entry is a folder
  // A file created or written: more may follow until its writer is done.
  bool may_go_on = false;
  // Its writer closed the file; a system that does not say so leaves it
  // to a pause in the news.
  bool write_ended = false;
};

// Which changes of a tree count.
struct TreeWatchOptions {
  // The folders below the root too, as deep as `max_depth` levels.
  bool subtree = false;
  size_t max_depth = 0;
  // A folder's own name created, deleted or moved counts. Without it such a
  // change still counts in a subtree watch (a folder moved in or out brings
  // or takes files that nothing else announces), and otherwise does not.
  // Files' names and writes (content, times) always count.
  bool dir_names = false;
  // The client lists every folder of the tree it cares for and names each
  // to the watch (OfferFolder) before it lists it; a folder that appears
  // is the client's to list. A system that must watch folder by folder then
  // learns them from those listings instead of listing the tree again.
  bool client_lists_folders = false;
};

// Someone who watches a tree through the shared service. The calls come on
// the service's reader thread, with the service's mutex held.
class TreeWatchClient {
 public:
  virtual ~TreeWatchClient() = default;
  virtual void OnTreeChange(const TreeChange& change) = 0;
  // The delay asked for with SetTimer has passed.
  virtual void OnTreeTimer() = 0;
};

// One reader thread for every watched tree, so that the number of watching
// items is not bounded by the system's limit of watch instances. How a tree
// is watched is the system's matter: on Linux one inotify watch per folder,
// followed as folders come and go (a folder watched by several clients is
// one system watch); on Windows one handle on the root that the system
// tells about the whole tree.
//
// Every member takes the service's mutex; it is recursive, so that a client
// may call the service from inside its callbacks. Once Unregister returns,
// the client is never called again.
class DirWatchService {
 public:
  // The one service of the process; it lives until the process ends.
  static DirWatchService& Shared();

  void Register(TreeWatchClient* client);
  // Ends the client's watch and timer.
  void Unregister(TreeWatchClient* client);
  // Watches the tree at `root` (a path ending in a separator; a link in its
  // last place is followed) for `client`, in place of what it watched
  // before. False when the root cannot be watched.
  bool Watch(TreeWatchClient* client, const std::string& root, const TreeWatchOptions& options);
  // The walk of a `client_lists_folders` client is about to list the folder
  // `listing` holds open, reached at `path` (below the root, ending in a
  // separator). Where the system watches folder by folder, that very folder
  // (whatever its path leads to by now) is watched from now on; a system
  // that watches the tree whole has nothing to do. False when the folder
  // cannot be watched (out of watches): news of it may then be missed.
  bool OfferFolder(TreeWatchClient* client, const std::string& path,
                   const DirectoryListing& listing);
  // Ends the client's watch; it stays registered.
  void Unwatch(TreeWatchClient* client);
  // Whether the client's root is watched (it may have gone since).
  bool Watching(TreeWatchClient* client);
  // How many system watches the client's tree takes: one per watched folder
  // on Linux, one for the whole tree on Windows; 0 while not watching.
  size_t WatchCount(TreeWatchClient* client);
  // Calls the client's OnTreeTimer once, `delay_ms` from now (replacing an
  // earlier request of the same client).
  void SetTimer(TreeWatchClient* client, int delay_ms);
  // Milliseconds on the clock the timers run by.
  static int64_t NowMs();

  std::recursive_mutex& mutex();

  // How many times the system said news was lost.
  uint64_t OverflowCount();
  // For tests: the next `n` new system watches are made, later ones are
  // refused as when the user's watches are used up; -1 lifts the limit.
  void FailWatchesAfterForTesting(int n);
  // For tests: tells every client that news was lost, as the system does
  // when its queue is full.
  void InjectOverflowForTesting();

  struct Impl;

 private:
  DirWatchService();
  Impl* impl_;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DIR_WATCH_H_

#ifndef SENTREL_PLATFORM_DIR_WATCH_H_
#define SENTREL_PLATFORM_DIR_WATCH_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace sentrel {

class DirectoryListing;

// What a directory-watch event says changed in a watched directory.
enum DirWatchFlags : uint32_t {
  kWatchNameChange = 1,   // an entry was created, deleted or moved in or out
  kWatchWriteChange = 2,  // an entry's content, times or attributes changed
  kWatchIsDirectory = 4,  // the entry concerned is a directory
  kWatchEntryAppeared = 8,  // created or moved in (with kWatchNameChange)
  kWatchGone = 16,        // the watched directory itself is gone; its watch ended
  // A file created or written: more may follow until its writer is done.
  kWatchMayGoOn = 32,
  kWatchWriteEnded = 64,  // a writer closed the file
};

struct DirWatchEvent {
  int watch = -1;  // the watch it arrived on
  uint32_t flags = 0;
  std::string_view name;  // the entry inside the watched directory, if any
};

// Someone who watches directories through the shared service. The calls come
// on the service's reader thread, with the service's mutex held.
class DirWatchClient {
 public:
  virtual ~DirWatchClient() = default;
  virtual void OnDirEvent(const DirWatchEvent& event) = 0;
  // Events were lost: anything may have changed.
  virtual void OnDirOverflow() = 0;
  // The delay asked for with SetTimer has passed.
  virtual void OnDirTimer() = 0;
};

// One system watch instance and one reader thread shared by every client,
// so that the number of watching items is not bounded by the per-user limit
// of watch instances. A directory watched by several clients is one system
// watch, removed when its last client lets it go.
//
// Every member takes the service's mutex; it is recursive, so that a client
// may add or remove watches from inside its callbacks. Once Unregister
// returns, the client is never called again.
class DirWatchService {
 public:
  // The one service of the process; it lives until the process ends.
  static DirWatchService& Shared();

  void Register(DirWatchClient* client);
  // Removes the client's watches and timer.
  void Unregister(DirWatchClient* client);
  // Watches the directory at `path` (never through a link, except for
  // `follow_link`) for `client`; the watch's number, or -1 when it cannot be
  // watched.
  int AddWatch(DirWatchClient* client, const std::string& path, bool follow_link);
  // Watches the folder that `listing` holds open, whatever its path (named
  // `path` for the client) leads to by now: a folder swapped for a link
  // after it was opened does not lead the watch elsewhere.
  int AddWatch(DirWatchClient* client, const std::string& path, const DirectoryListing& listing);
  void RemoveWatch(DirWatchClient* client, int watch);
  // Calls the client's OnDirTimer once, `delay_ms` from now (replacing an
  // earlier request of the same client).
  void SetTimer(DirWatchClient* client, int delay_ms);
  // Milliseconds on the clock the timers run by.
  static int64_t NowMs();

  std::recursive_mutex& mutex();

  // How many times the system said events were lost.
  uint64_t OverflowCount();
  // For tests: the next `n` new system watches are made, later ones are
  // refused as when the user's watches are used up; -1 lifts the limit.
  void FailWatchesAfterForTesting(int n);
  // For tests: tells every client that events were lost, as the system
  // does when its queue is full.
  void InjectOverflowForTesting();

  struct Impl;

 private:
  DirWatchService();
  Impl* impl_;
};

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_DIR_WATCH_H_

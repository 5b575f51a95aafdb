#ifndef SENTREL_TESTS_COUNTED_WATCHER_H_
#define SENTREL_TESTS_COUNTED_WATCHER_H_

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "monitor/chnotify.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {

// A watcher with a wake counter. The spacing is kept short so that every
// wake the tests wait for comes soon.
struct Counted {
  std::atomic<int> wakes{0};
  std::unique_ptr<ChangeNotifyThread> watcher;

  Counted(const std::string& root, bool subtree, bool dir_names) {
    ChangeNotifyThread::Settings s;
    s.root = root;
    s.subtree = subtree;
    s.dir_names = dir_names;
    s.calm_ms = 2;
    s.quiet_ms = 2;
    s.max_delay_ms = 5;
    watcher = std::make_unique<ChangeNotifyThread>(s, [this] { ++wakes; });
  }
  bool WokeUp() { return WaitUntil([&] { return wakes.load() > 0; }); }
  // No wake within a moment: long enough for the reader to have seen the
  // event on an idle machine; a late wake can only make this pass wrongly.
  bool StaysAsleep() {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return wakes.load() == 0;
  }
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_COUNTED_WATCHER_H_

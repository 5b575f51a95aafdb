// A configuration of a thousand real-time directory items, loaded,
// started and stopped again and again: each time every item watches its
// folder, and each time everything it took is given back.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "loader/monitor_process.h"
#include "monitor/chkdir.h"
#include "monitor/chnotify.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_THREAD__)
// The thread sanitizer keeps a record per live thread that makes a
// thousand at once slow to start and stop; fewer still make the point.
constexpr int kItems = 250;
#else
constexpr int kItems = 1000;
#endif
constexpr int kRounds = 10;

size_t CountEntries(const char* dir) {
  std::error_code ec;
  size_t n = 0;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    ++n;
  }
  return n;
}

// The process's own threads, open descriptors and inotify watches, as the
// system counts them.
size_t Threads() { return CountEntries("/proc/self/task"); }
size_t Descriptors() { return CountEntries("/proc/self/fd"); }
size_t InotifyWatches() {
  size_t n = 0;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    std::error_code link_ec;
    if (fs::read_symlink(it->path(), link_ec).string() != "anon_inode:inotify") continue;
    std::ifstream info("/proc/self/fdinfo/" + it->path().filename().string());
    std::string line;
    while (std::getline(info, line)) n += line.rfind("inotify wd:", 0) == 0 ? 1 : 0;
  }
  return n;
}

TEST(ManyItemsTest, AThousandRealTimeItemsStartAndStopTenTimes) {
  TempDir tree;
  std::string conf;
  for (int i = 0; i < kItems; ++i) {
    tree.MakeDir("i" + std::to_string(i));
    conf += "IsDirectory=1\nFileName=" + tree.Root() + "i" + std::to_string(i) +
            "\nRealTime=1\nSubdir=1\nInterval=3600\nEOF\n";
  }
  const std::string path = tree.Write("many.mon", conf);

  // Kept past the test: if it fails half-way, item threads may still be
  // ending when it returns.
  static CapturingSink sink;
  static Services services;
  services.messages = &sink;
  {
    // The shared watch reader starts with the first watcher and stays for
    // the life of the process: start it before counting.
    ChangeNotifyThread::Settings s;
    s.root = tree.Root();
    ChangeNotifyThread first(s, [] {});
    first.Open();
  }
  const size_t threads = Threads(), descriptors = Descriptors(), watches = InotifyWatches();

  int64_t slowest_stop_ms = 0, total_stop_ms = 0;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    MonitorProcess process(services);
    ASSERT_TRUE(process.Load(path));
    ASSERT_EQ(process.Monitors().size(), static_cast<size_t>(kItems));
    // Asked from the last item, which starts last, so that a poll before
    // every item watches usually stops at its first question.
    auto all_watching = [&] {
      const auto& items = process.Monitors();
      return std::all_of(items.rbegin(), items.rend(), [](const auto& item) {
        return static_cast<CheckDirThread&>(*item).WatchCount() == 1;
      });
    };
    ASSERT_TRUE(WaitUntil(all_watching, 60000));
    EXPECT_GE(InotifyWatches(), static_cast<size_t>(kItems));

    const auto start = std::chrono::steady_clock::now();
    process.StopAll();
    ASSERT_TRUE(process.WaitStopped(30000)) << process.tracker()->Running() << " still running";
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    slowest_stop_ms = std::max(slowest_stop_ms, ms);
    total_stop_ms += ms;
    // An item thread counts itself out just before it returns. (Fewer than
    // before is fine: earlier tests' threads may still have been ending.)
    EXPECT_TRUE(WaitUntil([&] { return Threads() <= threads; })) << Threads() - threads << " left";
    EXPECT_LE(InotifyWatches(), watches);
    EXPECT_LE(Descriptors(), descriptors);
  }
  RecordProperty("items", kItems);
  RecordProperty("slowest_stop_ms", static_cast<int>(slowest_stop_ms));
  RecordProperty("mean_stop_ms", static_cast<int>(total_stop_ms / kRounds));
  EXPECT_EQ(sink.Text(), "");
}

}  // namespace
}  // namespace sentrel

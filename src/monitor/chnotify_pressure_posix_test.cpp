// The watcher when the system's change notification runs short: out of
// watches, events lost to a full queue, folders swapped for links while
// their news is on its way.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "counted_watcher.h"
#include "monitor/chkdir.h"
#include "platform/dir_list.h"
#include "platform/dir_watch.h"
#include "recording_dir_item.h"
#include "temp_dir.h"
#include "wait_until.h"
#include "user_namespace.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAre;

// Real-time items over trees that cannot all be watched: each watches what
// it can, says nothing, and its interval finds every change.
void ItemsOutOfWatchesCarryOn(int watchable) {
  TempDir first, second;
  for (const char* d : {"a", "b", "c", "d"}) first.MakeDir(d);
  CapturingSink sink;
  Services services;
  services.messages = &sink;
  // Stops the items however the test ends: they use what is above.
  struct Running {
    std::shared_ptr<ThreadTracker> tracker = std::make_shared<ThreadTracker>();
    std::vector<std::shared_ptr<RecordingDirItem>> items;
    ~Running() {
      for (auto& item : items) item->RequestTerminate();
      EXPECT_TRUE(tracker->WaitIdle(10000));
    }
  } running;
  auto& items = running.items;
  for (const TempDir* tree : {&first, &second}) {
    auto item = std::make_shared<RecordingDirItem>(false, services);
    item->ParseBlock(
        {"FileName=" + tree->Root() + "\n", "Subdir=1\n", "RealTime=1\n", "Interval=1\n"});
    BaseMonitoring::Start(item, running.tracker);
    items.push_back(item);
    // Changes made before the baseline would be part of it.
    ASSERT_TRUE(WaitUntil([&] { return item->Checks() > 0; }));
  }
  // The first takes what there is, the second finds none left.
  EXPECT_TRUE(WaitUntil([&] { return items[0]->WatchCount() == static_cast<size_t>(watchable); }))
      << items[0]->WatchCount();
  EXPECT_EQ(items[1]->WatchCount(), 0u);

  for (const char* d : {"a", "b", "c", "d"}) first.Write(std::string(d) + "/f");
  second.Write("g");
  for (const char* d : {"a", "b", "c", "d"}) {
    EXPECT_TRUE(WaitUntil([&] { return items[0]->Reported(std::string(d) + "/f:1"); })) << d;
  }
  EXPECT_TRUE(WaitUntil([&] { return items[1]->Reported("g:1"); }));
  EXPECT_EQ(sink.Text(), "");
}

TEST(WatchPressureTest, OutOfWatchesTheIntervalTakesOver) {
  DirWatchService::Shared().FailWatchesAfterForTesting(3);
  ItemsOutOfWatchesCarryOn(3);
  DirWatchService::Shared().FailWatchesAfterForTesting(-1);
}

// The same against the system's own limit, lowered for a child process
// alone inside a user namespace of its own.
TEST(WatchPressureTest, OutOfRealWatchesTheIntervalTakesOver) {
  SENTREL_RUN_IN_CHILD_PROCESS("SENTREL_WATCH_LIMIT_CHILD");
  if (!EnterUserNamespace(false) || !LimitInotifyWatches(3)) GTEST_SKIP() << "no user namespace";
  ItemsOutOfWatchesCarryOn(3);
}

// No inotify instance to be had at all: the items are as quiet, and their
// intervals as sure.
TEST(WatchPressureTest, NoWatchInstanceLeftTheIntervalTakesOver) {
  SENTREL_RUN_IN_CHILD_PROCESS("SENTREL_INSTANCE_LIMIT_CHILD");
  if (!EnterUserNamespace(false) || !LimitInotifyInstances(0)) GTEST_SKIP() << "no user namespace";
  ItemsOutOfWatchesCarryOn(0);
}

int ProcInt(const char* path) {
  std::ifstream in(path);
  int v = -1;
  in >> v;
  return v;
}

// Events lost to a full queue: the watcher says so and wakes its item,
// whose next check walks everything (however it was woken), sees every
// change and watches the folders made meanwhile.
TEST(WatchPressureTest, QueueOverflowWakesAndTheNextCheckWalksEverything) {
  TempDir tree;
  tree.Write("a");
  tree.Write("b");
  tree.Write("changed");
  tree.Write("deleted");
  tree.Write("sub/f");
  Services services;
  auto item = std::make_shared<CheckDirThread>(false, services);
  item->ParseBlock({"FileName=" + tree.Root() + "\n", "Subdir=1\n", "StorePrevInfo=1\n",
                    "Conditions=1110\n", "RealTime=1\n"});
  item->Restart();  // its watcher, without a loop
  item->Check();
  ASSERT_EQ(item->WatchCount(), 2u);
  item->SetCheckRequested(true);  // as a wake-up would ask

  DirWatchService& service = DirWatchService::Shared();
  const uint64_t overflows = service.OverflowCount();
  const int queue = ProcInt("/proc/sys/fs/inotify/max_queued_events");
  const bool real = queue > 0 && queue <= (1 << 17);
  {
    // The reader cannot hand events on while this is held, so the queue
    // fills: with events that are never merged, two files' times set in
    // turns, then the changes that are lost.
    std::lock_guard<std::recursive_mutex> hold(service.mutex());
    if (real) {
      const auto t = fs::file_time_type::clock::now();
      for (int i = 0; i < queue + 8192; ++i) {
        fs::last_write_time(tree.Path(i % 2 ? "a" : "b"), t - std::chrono::seconds(i));
      }
    }
    tree.Write("added");
    tree.Touch("changed", std::chrono::seconds(-30));
    fs::remove(tree.Path("deleted"));
    tree.Write("late/f");
    if (!real) service.InjectOverflowForTesting();
  }
  EXPECT_TRUE(WaitUntil([&] { return service.OverflowCount() > overflows; }));

  item->Check();
  EXPECT_FALSE(item->LastCheckStats().partial);
  std::vector<std::string> reported;
  for (const FileData& f : item->ReportedFiles) {
    reported.push_back(f.Name.substr(tree.Root().size()) + ":" + std::to_string(f.State));
  }
  // The file of the folder made meanwhile is held back like one being
  // written, and reported by the next check.
  EXPECT_THAT(reported, UnorderedElementsAre("a:2", "b:2", "added:1", "changed:2", "deleted:3"));
  EXPECT_EQ(item->WatchCount(), 3u) << "the folder made while events were lost is watched";
  item->ReportedFiles.clear();
  item->Check();
  ASSERT_EQ(item->ReportedFiles.size(), 1u);
  EXPECT_EQ(item->ReportedFiles[0].Name, tree.Sub("late/f"));
}

// A folder swapped for a link between the walk's opening it and its
// watch: followed, the link would lead the watch to a folder watched
// already under its own name, and the replaced folder's end would take
// that watch along. The watch goes to the folder the walk holds open.
TEST(WatchPressureTest, AFolderSwappedForALinkLeadsNoWatchElsewhere) {
  TempDir tree, elsewhere;
  tree.MakeDir("q/c");
  tree.MakeDir("p/c");
  Counted deep(tree.Root(), true, true);
  ASSERT_TRUE(deep.watcher->Open());
  DirectoryListing q, qc;
  ASSERT_TRUE(q.Open(tree.Root() + "q/") && qc.Open(tree.Root() + "q/c/"));
  ASSERT_TRUE(deep.watcher->WatchFolder(tree.Root() + "q/", q));
  ASSERT_TRUE(deep.watcher->WatchFolder(tree.Root() + "q/c/", qc));
  deep.watcher->TakeChanges();
  {
    DirectoryListing pc;
    ASSERT_TRUE(pc.Open(tree.Root() + "p/c/"));
    // The parent moved away and a link to "q" put in its place: "p/c" now
    // leads to "q/c".
    fs::rename(tree.Path("p"), elsewhere.Path("p"));
    fs::create_directory_symlink(tree.Path("q"), tree.Path("p"));
    ASSERT_TRUE(WaitUntil([&] { return deep.watcher->TakeChanges().folders.count(tree.Root()); }));
    ASSERT_TRUE(deep.watcher->WatchFolder(tree.Root() + "p/c/", pc));
    EXPECT_EQ(deep.watcher->WatchCount(), 4u) << "the root, q, q/c and the old p/c";
  }
  fs::remove_all(elsewhere.Path("p"));
  ASSERT_TRUE(WaitUntil([&] { return deep.watcher->WatchCount() == 3u; }));
  tree.Write("q/c/f");
  EXPECT_TRUE(WaitUntil([&] { return deep.watcher->TakeChanges().folders.count(tree.Root() + "q/c/") > 0; }))
      << "q/c is still watched, under its own name";
}

}  // namespace
}  // namespace sentrel

#include "monitor/chnotify.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "counted_watcher.h"
#include "monitor/chkdir.h"
#include "platform/dir_list.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

TEST(ChangeNotifyTest, FileChangesWakeAndDirectoryNamesOnlyWhenAskedFor) {
  TempDir tree;
  tree.Write("existing", "1");
  Counted files(tree.Root(), false, false), dirs(tree.Root(), false, true);
  ASSERT_TRUE(files.watcher->Open());
  ASSERT_TRUE(dirs.watcher->Open());

  tree.MakeDir("newdir");
  EXPECT_TRUE(dirs.WokeUp());
  EXPECT_TRUE(files.StaysAsleep());

  tree.Touch("existing", std::chrono::seconds(-10));  // a time set: last-write class
  EXPECT_TRUE(files.WokeUp());
  files.wakes = 0;
  fs::remove(tree.Path("existing"));
  EXPECT_TRUE(files.WokeUp());
}

// Changes since the last ask, gathered until `done` says they are all in.
TreeChanges Gather(ChangeNotifyThread& w, const std::function<bool(const TreeChanges&)>& done) {
  TreeChanges all;
  all.lost = false;
  WaitUntil([&] {
    TreeChanges more = w.TakeChanges();
    all.lost = all.lost || more.lost;
    all.folders.merge(more.folders);
    all.appeared.merge(more.appeared);
    return done(all);
  });
  return all;
}

TEST(ChangeNotifyTest, TellsWhichFoldersChangedAndWhichAppeared) {
  TempDir tree, elsewhere;
  tree.MakeDir("old/inner");
  elsewhere.Write("full/a");
  Counted deep(tree.Root(), true, false);
  ASSERT_TRUE(deep.watcher->Open());
  EXPECT_TRUE(deep.watcher->TakeChanges().lost) << "nothing is known before the first walk";
  // The walk names each folder as it lists it.
  for (const char* folder : {"old/", "old/inner/"}) {
    DirectoryListing listing;
    ASSERT_TRUE(listing.Open(tree.Root() + folder));
    ASSERT_TRUE(deep.watcher->WatchFolder(tree.Root() + folder, listing));
  }
  EXPECT_EQ(deep.watcher->WatchCount(), 3u);
  EXPECT_FALSE(deep.watcher->TakeChanges().lost);

  tree.Write("old/inner/f");
  tree.MakeDir("new/a");
  fs::rename(elsewhere.Path("full"), tree.Path("moved"));
  const std::string root = tree.Root();
  TreeChanges c = Gather(*deep.watcher, [&](const TreeChanges& c) {
    return c.folders.count(root + "old/inner/") && c.appeared.count(root + "moved/");
  });
  EXPECT_FALSE(c.lost);
  EXPECT_EQ(c.folders, (std::unordered_set<std::string>{root, root + "old/inner/"}));
  EXPECT_EQ(c.appeared, (std::unordered_set<std::string>{root + "new/", root + "moved/"}));
  EXPECT_TRUE(deep.WokeUp());

  // A folder moved away takes no watch of ours along.
  fs::rename(tree.Path("old"), elsewhere.Path("old"));
  ASSERT_TRUE(WaitUntil([&] { return deep.watcher->WatchCount() == 1u; }));
  deep.watcher->TakeChanges();
  tree.Write("f");
  c = Gather(*deep.watcher, [&](const TreeChanges& c) { return c.folders.count(root) > 0; });
  EXPECT_EQ(c.folders.size(), 1u);
}

// A file written in one go (created, written, closed) wakes the item once,
// when its writer closes it: a check woken earlier would find it half
// written and report it twice.
TEST(ChangeNotifyTest, ASaveWakesWhenItsWriterCloses) {
  TempDir tree;
  ChangeNotifyThread::Settings s;
  s.root = tree.Root();
  s.settle_ms = 60000;  // only the close may end the wait
  s.max_settle_ms = 60000;
  std::atomic<int> wakes{0};
  ChangeNotifyThread w(s, [&] { ++wakes; });
  ASSERT_TRUE(w.Open());
  {
    std::ofstream out(tree.Path("saved"));
    out << "first part" << std::flush;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(wakes.load(), 0) << "woken while the file was still being written";
    out << " and the rest" << std::flush;
  }
  EXPECT_TRUE(WaitUntil([&] { return wakes.load() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(wakes.load(), 1);
}

TEST(ChangeNotifyTest, ADirectoryMovedInWakesASubtreeWatcher) {
  TempDir tree, elsewhere;
  elsewhere.Write("full/a");
  Counted deep(tree.Root(), true, false);
  ASSERT_TRUE(deep.watcher->Open());
  deep.watcher->TakeChanges();
  fs::rename(elsewhere.Path("full"), tree.Path("full"));
  EXPECT_TRUE(deep.WokeUp());
  EXPECT_EQ(deep.watcher->TakeChanges().appeared.count(tree.Root() + "full/"), 1u);
}

TEST(ChangeNotifyTest, ManyWatchersShareOneInstance) {
  // More than the usual per-user limit of 128 watch instances.
  TempDir tree;
  std::vector<std::unique_ptr<Counted>> all;
  for (int i = 0; i < 200; ++i) {
    all.push_back(std::make_unique<Counted>(tree.Root(), false, false));
    ASSERT_TRUE(all.back()->watcher->Open()) << i;
  }
  // Stopping some must not end the shared watch of the others.
  for (int i = 0; i < 100; ++i) all[i]->watcher->Stop();
  tree.Write("f");
  for (int i = 100; i < 200; ++i) EXPECT_TRUE(all[i]->WokeUp()) << i;
  for (int i = 0; i < 100; ++i) EXPECT_EQ(all[i]->wakes.load(), 0) << i;
}

TEST(ChangeNotifyTest, MissingRootNeverWakes) {
  TempDir tree;
  Counted c(tree.Root() + "later/", true, true);
  EXPECT_FALSE(c.watcher->Open());
  tree.Write("later/f");
  EXPECT_TRUE(c.StaysAsleep());
  c.watcher->Stop();
  c.watcher->Stop();
}

TEST(ChangeNotifyTest, StoppingDuringABurstLeavesNothingBehind) {
  TempDir tree;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done; ++i) {
      tree.Write("d" + std::to_string(i % 8) + "/f" + std::to_string(i % 50), "x");
      if (i % 40 == 0) fs::remove_all(tree.Path("d" + std::to_string(i % 8)));
    }
  });
  for (int round = 0; round < 40; ++round) {
    // The wake touches memory that dies with the watcher's owner: after
    // Stop nothing may reach it (the sanitizer builds check that).
    auto owner = std::make_unique<std::atomic<int>>(0);
    ChangeNotifyThread::Settings s;
    s.root = tree.Root();
    s.subtree = true;
    s.dir_names = true;
    s.calm_ms = round % 2 ? 0 : 50;
    s.quiet_ms = round % 2 ? 0 : 30;
    s.max_delay_ms = round % 2 ? 0 : 50;
    auto w = std::make_unique<ChangeNotifyThread>(s, [p = owner.get()] { ++*p; });
    w->Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (round % 3 == 0) w->Stop();
    w.reset();
    owner.reset();
  }
  done = true;
  writer.join();
}

class RealTimeItemTest : public ::testing::Test {
 protected:
  std::shared_ptr<CheckDirThread> Start(std::vector<std::string> lines) {
    lines.insert(lines.begin(), {"FileName=" + tree_.Root(), "Interval=60", "RealTime=1"});
    for (auto& l : lines) l += "\n";
    auto item = std::make_shared<CheckDirThread>(false, services_);
    item->ParseBlock(lines);
    BaseMonitoring::Start(item, tracker_);
    return item;
  }
  // A file made aside and moved in: one notification, one check.
  void MoveIn(const std::string& rel) {
    const auto aside = outside_.Write("f");
    fs::rename(aside, tree_.Path(rel));
  }
  void TearDown() override {
    for (auto& item : started_) item->RequestTerminate();
    EXPECT_TRUE(tracker_->WaitIdle(5000));
  }

  TempDir tree_, outside_;
  Services services_;
  std::shared_ptr<ThreadTracker> tracker_ = std::make_shared<ThreadTracker>();
  std::vector<std::shared_ptr<CheckDirThread>> started_;
};

TEST_F(RealTimeItemTest, AChangeChecksLongBeforeTheInterval) {
  tree_.MakeDir("sub");
  auto item = Start({"Subdir=1"});
  started_.push_back(item);
  ASSERT_TRUE(WaitUntil([&] { return item->Status() == 1; })) << "baseline";
  MoveIn("sub/new");
  EXPECT_TRUE(WaitUntil([&] { return item->Status() == 2; }));

}

TEST_F(RealTimeItemTest, RestartPutsAFreshWatcherInPlace) {
  tree_.MakeDir("a/b");
  auto item = std::make_shared<CheckDirThread>(false, services_);
  item->ParseBlock({"FileName=" + tree_.Root() + "\n", "RealTime=1\n", "Subdir=1\n"});
  EXPECT_FALSE(item->WatcherRunning());
  item->Restart();
  EXPECT_EQ(item->WatchCount(), 1u);
  item->Check();  // the walk names each folder to the watcher
  EXPECT_EQ(item->WatchCount(), 3u);
  tree_.MakeDir("c");
  item->Restart();  // replaces the watcher
  EXPECT_TRUE(item->RebaselineSet());
  item->Check();
  EXPECT_EQ(item->WatchCount(), 4u);
}

TEST_F(RealTimeItemTest, ItemsEndCleanlyWhileEventsFlow) {
  for (int i = 0; i < 6; ++i) {
    auto item = Start({"Subdir=1", "DirMonitoring=1"});
    for (int k = 0; k < 30; ++k) tree_.Write("d/f" + std::to_string(k));
    item->RequestTerminate();
    // Dropped here: the item's own thread destroys it, watcher and all.
  }
  EXPECT_TRUE(tracker_->WaitIdle(10000));
}

}  // namespace
}  // namespace sentrel

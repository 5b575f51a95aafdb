#include "monitor/chnotify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "counted_watcher.h"
#include "monitor/chkdir.h"
#include "platform/dir_list.h"
#include "platform/paths.h"
#include "recording_dir_item.h"
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

  tree.Write("existing", "22");  // last-write class
  EXPECT_TRUE(files.WokeUp());
  files.wakes = 0;
  fs::remove(tree.Path("existing"));
  EXPECT_TRUE(files.WokeUp());
}

// A last-write time set on its own (touch, utime, a restore from backup)
// is a change like a write, whatever class the system files it under.
TEST(ChangeNotifyTest, ATimeSetWakesLikeAWrite) {
  TempDir tree;
  tree.Write("existing", "1");
  Counted files(tree.Root(), false, false);
  ASSERT_TRUE(files.watcher->Open());
  tree.Touch("existing", std::chrono::seconds(-10));
  EXPECT_TRUE(files.WokeUp());
}

TEST(ChangeNotifyTest, ADirectoryMovedInWakesASubtreeWatcher) {
  TempDir tree, elsewhere;
  elsewhere.Write("full/a");
  Counted deep(tree.Root(), true, false);
  ASSERT_TRUE(deep.watcher->Open());
  deep.watcher->TakeChanges();
  fs::rename(elsewhere.Path("full"), tree.Path("full"));
  EXPECT_TRUE(deep.WokeUp());
  EXPECT_EQ(deep.watcher->TakeChanges().appeared.count(tree.Root() + "full" + kPathSeparator), 1u);
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
  std::shared_ptr<RecordingDirItem> Start(std::vector<std::string> lines) {
    lines.insert(lines.begin(), {"FileName=" + tree_.Root(), "Interval=60", "RealTime=1"});
    for (auto& l : lines) l += "\n";
    auto item = std::make_shared<RecordingDirItem>(false, services_);
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
  std::vector<std::shared_ptr<RecordingDirItem>> started_;
};

TEST_F(RealTimeItemTest, AChangeChecksLongBeforeTheInterval) {
  tree_.MakeDir("sub");
  auto item = Start({"Subdir=1"});
  started_.push_back(item);
  // The baseline check done (its status is set as it starts): a file moved
  // in meanwhile could be part of the baseline.
  ASSERT_TRUE(WaitUntil([&] { return item->Checks() == 1; })) << "baseline";
  MoveIn("sub/new");
  const std::string added = std::string("sub") + kPathSeparator + "new:1";
  EXPECT_TRUE(WaitUntil([&] { return item->Reported(added); }));
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

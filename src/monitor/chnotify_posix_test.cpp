// Watching trees with one inotify watch per folder.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <unordered_set>
#include <memory>
#include <string>

#include "counted_watcher.h"
#include "monitor/chkdir.h"
#include "monitor/chnotify.h"
#include "platform/dir_list.h"
#include "platform/dir_watch.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

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

TEST(RealTimeItemWatchTest, RestartPutsAFreshWatcherInPlace) {
  TempDir tree_;
  Services services_;
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


}  // namespace
}  // namespace sentrel

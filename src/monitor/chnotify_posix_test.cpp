// Watching trees with one inotify watch per folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "counted_watcher.h"
#include "monitor/chkdir.h"
#include "monitor/chnotify.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

TEST(ChangeNotifyTest, SubtreeWatchesFollowNewAndRemovedDirectories) {
  TempDir tree;
  tree.MakeDir("old/inner");
  Counted flat(tree.Root(), false, false), deep(tree.Root(), true, false);
  ASSERT_TRUE(flat.watcher->Open());
  ASSERT_TRUE(deep.watcher->Open());
  EXPECT_EQ(deep.watcher->WatchCount(), 3u);

  tree.Write("old/inner/f");
  EXPECT_TRUE(deep.WokeUp());
  EXPECT_TRUE(flat.StaysAsleep());

  // A tree made in one go: the watcher lists what it may have missed.
  tree.MakeDir("new/a/b");
  ASSERT_TRUE(WaitUntil([&] { return deep.watcher->WatchCount() == 6u; }));
  deep.wakes = 0;
  tree.Write("new/a/b/f");
  EXPECT_TRUE(deep.WokeUp());

  fs::rename(tree.Path("new"), tree.Path("renamed"));
  fs::remove_all(tree.Path("old"));
  ASSERT_TRUE(WaitUntil([&] { return deep.watcher->WatchCount() == 4u; }));
  deep.wakes = 0;
  tree.Write("renamed/a/b/g");
  EXPECT_TRUE(deep.WokeUp());
}

TEST(ChangeNotifyTest, ADirectoryMovedInIsWatchedWithItsSubfolders) {
  TempDir tree, elsewhere;
  elsewhere.Write("full/a");
  Counted deep(tree.Root(), true, false);
  ASSERT_TRUE(deep.watcher->Open());
  fs::rename(elsewhere.Path("full"), tree.Path("full"));
  EXPECT_TRUE(deep.WokeUp());
  ASSERT_TRUE(WaitUntil([&] { return deep.watcher->WatchCount() == 2u; }));
}

TEST(RealTimeItemWatchTest, RestartPutsAFreshWatcherInPlace) {
  TempDir tree_;
  Services services_;
  tree_.MakeDir("a/b");
  auto item = std::make_shared<CheckDirThread>(false, services_);
  item->ParseBlock({"FileName=" + tree_.Root() + "\n", "RealTime=1\n", "Subdir=1\n"});
  EXPECT_FALSE(item->WatcherRunning());
  item->Restart();
  EXPECT_EQ(item->WatchCount(), 3u);
  tree_.MakeDir("c");
  item->Restart();  // replaces the watcher, which lists the tree anew
  EXPECT_EQ(item->WatchCount(), 4u);
  EXPECT_TRUE(item->RebaselineSet());
}

}  // namespace
}  // namespace sentrel

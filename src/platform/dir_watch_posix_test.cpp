// Watching trees with one inotify watch per folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "monitor/chnotify.h"
#include "platform/dir_watch.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// A tree watch whose client does not list the folders itself follows them
// on its own: the folders below are watched as they come and go.
TEST(DirWatchServiceTest, ATreeWatchFollowsItsFoldersUnlessTheClientListsThem) {
  struct Client : TreeWatchClient {
    void OnTreeChange(const TreeChange&) override {}
    void OnTreeTimer() override {}
  } own, listing;
  TempDir tree;
  tree.MakeDir("old/inner");
  DirWatchService& service = DirWatchService::Shared();
  service.Register(&own);
  service.Register(&listing);
  TreeWatchOptions options;
  options.subtree = true;
  options.max_depth = kMaxFolderDepth;
  ASSERT_TRUE(service.Watch(&own, tree.Root(), options));
  options.client_lists_folders = true;
  ASSERT_TRUE(service.Watch(&listing, tree.Root(), options));
  EXPECT_EQ(service.WatchCount(&own), 3u);
  EXPECT_EQ(service.WatchCount(&listing), 1u);

  tree.MakeDir("new/a/b");
  EXPECT_TRUE(WaitUntil([&] { return service.WatchCount(&own) == 6u; }));
  fs::rename(tree.Path("new"), tree.Path("renamed"));
  fs::remove_all(tree.Path("old"));
  EXPECT_TRUE(WaitUntil([&] { return service.WatchCount(&own) == 4u; }));
  EXPECT_EQ(service.WatchCount(&listing), 1u);
  service.Unregister(&own);
  service.Unregister(&listing);
}

}  // namespace
}  // namespace sentrel

// Directory items over trees that change while they are walked, and over
// names and shapes that nobody would choose: whatever lies in a watched
// folder, a check ends, reports the truth once things settle, and never
// takes the process down.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "loader/monitor_process.h"
#include "hostile_files.h"
#include "fake_clock.h"
#include "monitor/chkdir.h"
#include "recording_dir_item.h"
#include "temp_dir.h"
#include "wait_until.h"
#include "user_namespace.h"
#include "without_override.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

// Every entry below `root` as "relative/path" (directories too when asked),
// never through a link: what a walk with "Subdir" should record.
std::set<std::string> Listing(const fs::path& root, bool with_dirs) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const bool dir = it->is_directory(ec) && !it->is_symlink(ec);
    if (dir && !with_dirs) continue;
    out.insert(fs::relative(it->path(), root).string());
  }
  return out;
}

// Writes a file without throwing: under churn its folder may be gone or be
// a file by now.
void TryWrite(const fs::path& p, const std::string& content = "x") {
  std::ofstream out(p, std::ios::binary);
  if (out) out << content;
}

class HostileTreeTest : public ::testing::Test {
 protected:
  template <typename T = CheckDirThread>
  std::shared_ptr<T> Item(std::vector<std::string> lines, const std::string& root = "",
                          Services* services = nullptr) {
    auto item = std::make_shared<T>(false, services ? *services : services_);
    lines.insert(lines.begin(), "FileName=" + (root.empty() ? tree_.Root() : root));
    for (auto& l : lines) l += "\n";
    item->ParseBlock(lines);
    return item;
  }

  // One check; the reported files as "relative/name:state".
  std::vector<std::string> Check(CheckDirThread& item, uint8_t* outcome = nullptr) {
    const uint8_t r = item.Check();
    if (outcome != nullptr) *outcome = r;
    std::vector<std::string> out;
    const std::string root = item.FileName().Value();
    for (const FileData& f : item.ReportedFiles) {
      EXPECT_EQ(f.Name.rfind(root, 0), 0u) << f.Name;
      out.push_back(f.Name.substr(root.size()) + ":" + std::to_string(f.State));
    }
    item.ReportedFiles.clear();
    return out;
  }

  // The names an age check a day ahead of the files lists: exactly what
  // the walk records, whatever it is.
  std::vector<std::string> Recorded(std::vector<std::string> lines, const std::string& root = "") {
    // Services of its own: items started by the test read the shared ones.
    FakeClock ahead = FakeClock::At(SystemClock().RealNow() + 86400 * kNanosPerSecond);
    Services services;
    services.clock = &ahead;
    lines.push_back("ConditionType=1");
    lines.push_back("OlderInterval=60");
    auto item = Item(lines, root, &services);
    std::vector<std::string> names;
    for (const std::string& r : Check(*item)) names.push_back(r.substr(0, r.rfind(':')));
    return names;
  }

  // An item running its own loop, stopped when the test ends however it
  // ends.
  template <typename T = CheckDirThread>
  std::shared_ptr<T> Started(std::vector<std::string> lines, const std::string& root = "") {
    auto item = Item<T>(std::move(lines), root);
    BaseMonitoring::Start(item, tracker_);
    started_.push_back(item);
    return item;
  }
  void TearDown() override {
    for (auto& item : started_) item->RequestTerminate();
    EXPECT_TRUE(tracker_->WaitIdle(10000));
  }

  TempDir tree_;
  Services services_;
  std::shared_ptr<ThreadTracker> tracker_ = std::make_shared<ThreadTracker>();
  std::vector<std::shared_ptr<CheckDirThread>> started_;
};

// Files and folders created, written, renamed, replaced and deleted by
// another thread while checks run back to back, and a real-time item over
// the same tree all along: nothing fails, and once the churn stops the
// item's picture of the tree is the tree.
TEST_F(HostileTreeTest, ChurnUnderTheWalkEndsInAgreement) {
  for (int d = 0; d < 4; ++d) {
    for (int f = 0; f < 8; ++f) tree_.Write("d" + std::to_string(d) + "/f" + std::to_string(f));
  }
  auto item = Item({"Subdir=1", "DirMonitoring=1", "StorePrevInfo=1", "Conditions=1111"});
  auto live = Started({"Subdir=1", "DirMonitoring=1", "RealTime=1", "Interval=1"});
  Check(*item);

  std::atomic<bool> stop{false};
  std::atomic<int> ops{0};
  std::thread churn([&] {
    std::mt19937 rng(20261207);
    auto pick = [&](int n) { return static_cast<int>(rng() % n); };
    auto dir = [&] { return tree_.Path("d" + std::to_string(pick(5))); };
    auto entry = [&] {
      fs::path p = dir();
      if (pick(3) == 0) p /= "s" + std::to_string(pick(3));
      return p / ("f" + std::to_string(pick(12)));
    };
    std::error_code ec;
    while (!stop) {
      switch (pick(10)) {
        case 0:
        case 1: TryWrite(entry(), std::string(pick(100), 'w')); break;
        case 2: fs::remove(entry(), ec); break;
        case 3: fs::rename(entry(), entry(), ec); break;
        case 4: fs::create_directories(entry(), ec); break;  // a folder where files go
        case 5: fs::remove_all(entry(), ec); break;          // a file or a folder
        case 6: fs::remove_all(dir(), ec); break;
        case 7: fs::create_directories(dir() / ("s" + std::to_string(pick(3))), ec); break;
        case 8: fs::rename(dir(), dir(), ec); break;
        case 9: {
          const fs::path p = entry();
          fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(pick(48)), ec);
          break;
        }
      }
      ++ops;
    }
  });
  int checks = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((ops < 3000 || checks < 30) && std::chrono::steady_clock::now() < deadline) {
    Check(*item);
    ++checks;
  }
  stop = true;
  churn.join();
  EXPECT_GE(checks, 30);
  EXPECT_GE(ops.load(), 3000);
  RecordProperty("churn_ops", ops.load());
  RecordProperty("checks", checks);

  tree_.Write("keep1");
  tree_.Write("keep2");
  Check(*item);  // takes in the last of the churn
  uint8_t outcome = 9;
  EXPECT_THAT(Check(*item, &outcome), IsEmpty());
  EXPECT_EQ(outcome, 0);
  const std::set<std::string> now = Listing(tree_.Path(""), true);
  EXPECT_EQ(item->SnapshotSize(), now.size());
  EXPECT_THAT(Recorded({"Subdir=1", "DirMonitoring=1"}), UnorderedElementsAreArray(now));

  // Every remembered entry is the right one: a precise change is reported
  // precisely.
  const std::set<std::string> files = Listing(tree_.Path(""), false);
  const std::string gone = *files.begin(), touched = *files.rbegin();
  fs::remove(tree_.Path(gone));
  tree_.Touch(touched, std::chrono::seconds(-7));
  tree_.Write("fresh");
  std::vector<std::string> reported = Check(*item);
  // Its folder has a new last-write time too, unless its last change in the
  // churn fell within the same tick of the file system's clock.
  std::erase(reported, fs::path(gone).parent_path().string() + ":2");
  EXPECT_THAT(reported, UnorderedElementsAre(gone + ":3", touched + ":2", "fresh:1"));

  // The real-time item's watches follow the folders as they are now.
  const size_t folders = now.size() - files.size() + 1;
  EXPECT_TRUE(WaitUntil([&] { return live->WatchCount() == folders; }))
      << live->WatchCount() << " watches for " << folders << " folders";
}

// The root taken away and put back: first everything is gone, then
// everything is new; a real-time item over it carries on at its interval.
TEST_F(HostileTreeTest, RootRemovedAndRecreated) {
  tree_.Write("root/a");
  tree_.Write("root/sub/b");
  const std::string root = tree_.Root() + "root/";
  auto item = Item({"Subdir=1", "StorePrevInfo=1", "Conditions=1110"}, root);
  auto live = Started<RecordingDirItem>({"Subdir=1", "RealTime=1", "Interval=1"}, root);
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 2u && live->Checks() > 0; }));
  Check(*item);

  fs::remove_all(tree_.Path("root"));
  EXPECT_THAT(Check(*item), UnorderedElementsAre("a:3", "sub/b:3"));
  EXPECT_THAT(Check(*item), IsEmpty());
  EXPECT_TRUE(WaitUntil([&] { return live->WatchCount() == 0u; }));

  tree_.Write("root/a");
  tree_.Write("root/c");
  EXPECT_THAT(Check(*item), UnorderedElementsAre("a:1", "c:1"));
  EXPECT_THAT(Check(*item), IsEmpty());

  // The first check that finds the folder again watches it.
  tree_.Write("root/d");
  EXPECT_TRUE(WaitUntil([&] { return live->Reported("d:1") && live->WatchCount() == 1u; }));
}

// An hour's interval: whatever is seen within the test is seen in real time.
// Once a check finds the folder back (here asked for by hand, as the
// interval would), changes wake the item again, whether the old folder was
// removed or moved away with its watches still on it.
TEST_F(HostileTreeTest, RealTimeComesBackWithTheFolder) {
  tree_.Write("root/sub/a");
  const std::string root = tree_.Root() + "root/";
  auto live = Started<RecordingDirItem>({"Subdir=1", "RealTime=1", "Interval=3600"}, root);
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 2u && live->Checks() > 0; }));

  fs::remove_all(tree_.Path("root"));
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 0u; }));
  tree_.MakeDir("root");
  live->RequestCheck();
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 1u; }));
  tree_.Write("root/b");
  EXPECT_TRUE(WaitUntil([&] { return live->Reported("b:1"); }));

  tree_.MakeDir("root/sub");
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 2u; }));
  fs::rename(tree_.Path("root"), tree_.Path("old"));
  tree_.MakeDir("root");
  live->RequestCheck();
  // The old folder and its subfolder are let go, the new one is watched.
  ASSERT_TRUE(WaitUntil([&] { return live->WatchCount() == 1u; }));
  tree_.Write("root/c");
  EXPECT_TRUE(WaitUntil([&] { return live->Reported("c:1"); }));
}

// A folder that cannot be read contributes nothing, like one that is not
// there; readable again, its files are back. Root reads anything, so the
// check runs on a thread that has given up that power.
TEST_F(HostileTreeTest, UnreadableSubdirectoryCountsAsEmpty) {
  tree_.Write("open/a");
  tree_.Write("locked/b");
  tree_.Write("locked/deeper/c");
  auto item = Item({"Subdir=1", "DirMonitoring=1", "StorePrevInfo=1", "Conditions=1110"});
  Check(*item);

  fs::permissions(tree_.Path("locked"), fs::perms::none);
  std::vector<std::string> reported;
  const bool ran = RunWithoutOverridingPermissions([&] { reported = Check(*item); });
  fs::permissions(tree_.Path("locked"), fs::perms::owner_all);
  if (!ran) GTEST_SKIP() << "cannot give up the power to read anything";
  // The folder itself is still there and unchanged: a new mode is no new
  // last-write time.
  EXPECT_THAT(reported, UnorderedElementsAre("locked/b:3", "locked/deeper/c:3", "locked/deeper:3"));

  EXPECT_THAT(Check(*item),
              UnorderedElementsAre("locked/b:1", "locked/deeper/c:1", "locked/deeper:1"));
  EXPECT_THAT(Check(*item), IsEmpty());
}

// Links are entries, never ways in: links to themselves, to each other, to
// an ancestor or to the root end no walk and no watch.
TEST_F(HostileTreeTest, SymbolicLinkLoopsAreEntriesNotWaysIn) {
  tree_.Write("deep/er/f");
  fs::create_symlink("self", tree_.Path("self"));
  fs::create_symlink("pong", tree_.Path("ping"));
  fs::create_symlink("ping", tree_.Path("pong"));
  fs::create_directory_symlink("../..", tree_.Path("deep/er/up"));
  fs::create_directory_symlink(tree_.Path(""), tree_.Path("deep/root"));
  const std::vector<std::string> all = {"self", "ping", "pong", "deep/er/f", "deep/er/up",
                                        "deep/root", "deep/er", "deep"};
  EXPECT_THAT(Recorded({"Subdir=1", "DirMonitoring=1"}), UnorderedElementsAreArray(all));

  auto item = Item({"Subdir=1", "DirMonitoring=1", "RealTime=1"});
  item->Restart();  // starts its watcher here, without a loop
  item->Check();
  EXPECT_EQ(item->WatchCount(), 3u);  // the root, deep and deep/er

  // A root named through a loop is a root that cannot be opened.
  EXPECT_THAT(Recorded({}, tree_.Root() + "self"), IsEmpty());
  auto looped = Item({"RealTime=1", "Subdir=1"}, tree_.Root() + "ping");
  looped->Restart();
  looped->Check();
  EXPECT_EQ(looped->WatchCount(), 0u);
}

// A folder mounted again inside itself (a bind mount, in a namespace of
// the test's own): by their names the tree has no end, yet the walk and the
// watcher go through each folder once and end.
TEST_F(HostileTreeTest, FolderMountedInsideItself) {
  SENTREL_RUN_IN_CHILD_PROCESS("SENTREL_MOUNT_LOOP_CHILD");
  if (!EnterUserNamespace(true)) GTEST_SKIP() << "no user namespace";
  tree_.Write("f");
  tree_.Write("sub/g");
  tree_.MakeDir("sub/loop");
  const std::string loop = tree_.Path("sub/loop").string();
  if (!BindMount(tree_.Root(), loop)) GTEST_SKIP() << "no bind mount";
  EXPECT_THAT(Recorded({"Subdir=1", "DirMonitoring=1"}),
              UnorderedElementsAre("f", "sub/g", "sub/loop", "sub"));
  auto item = Item({"Subdir=1", "RealTime=1"});
  item->Restart();
  item->Check();
  EXPECT_EQ(item->WatchCount(), 2u);  // the root and sub
  tree_.MakeDir("sub/new");
  item->SetCheckRequested(true);
  EXPECT_TRUE(WaitUntil([&] {
    item->Check();
    return item->WatchCount() == 3u;
  }));
  // Its watches are filed under their own names: the mount's going takes
  // none of them along.
  Unmount(loop);
  fs::remove(loop);
  tree_.MakeDir("after");
  EXPECT_TRUE(WaitUntil([&] {
    item->Check();
    return item->WatchCount() == 4u;
  })) << item->WatchCount();
}

// Names are bytes: every byte but "/" and the end, sequences that are not
// UTF-8, and a folder with such a name, are recorded, compared and
// reported exactly as the file system spells them.
TEST_F(HostileTreeTest, NamesOfAnyBytes) {
  std::string every;
  for (int b = 1; b < 256; ++b) {
    if (b != '/') every.push_back(static_cast<char>(b));
  }
  const std::vector<std::string> broken = {
      "\xff",             // never in UTF-8
      "\xc3(",            // a lead byte without its follower
      "tail\xe2\x82",     // cut short at the end
      "\xc0\xaf",         // an overlong "/"
      "\xed\xa0\x80",     // a surrogate
      "\xf4\x90\x80\x80"  // beyond U+10FFFF
  };
  const std::string folder = "\x01\x7f\xfe dir\n";
  tree_.Write(every, "1");
  for (const std::string& n : broken) tree_.Write(n, "1");
  tree_.Write(folder + "/" + every, "1");
  tree_.Write(folder + "/\xff", "1");

  std::vector<std::string> expected = broken;
  expected.push_back(every);
  expected.push_back(folder + "/" + every);
  expected.push_back(folder + "/\xff");
  EXPECT_THAT(Recorded({"Subdir=1"}), UnorderedElementsAreArray(expected));
  // A mask with such bytes in it picks out just its names.
  EXPECT_THAT(Recorded({"Subdir=1", "Mask=\xff;\xc3?;*\x82"}),
              UnorderedElementsAre("\xff", "\xc3(", "tail\xe2\x82", folder + "/\xff"));

  auto item = Item({"Subdir=1", "StorePrevInfo=1", "Conditions=1110", "RealTime=1"});
  item->Restart();
  Check(*item);
  EXPECT_EQ(item->WatchCount(), 2u);
  tree_.Touch(folder + "/" + every, std::chrono::seconds(-5));
  fs::remove(tree_.Path("\xc0\xaf"));
  fs::rename(tree_.Path("\xff"), tree_.Path("\xfe"));
  EXPECT_THAT(Check(*item), UnorderedElementsAre(folder + "/" + every + ":2", "\xc0\xaf:3",
                                                 "\xff:3", "\xfe:1"));
}

// A chain of folders twenty thousand deep, which anyone who may write in
// the tree can make in a second: walked level by level on the item's own
// thread it would use up that thread's stack (and a descriptor and a
// listing buffer per level). The walk and the watcher stop at a depth no
// real tree reaches; what lies deeper counts as absent.
TEST_F(HostileTreeTest, FolderChainsEndAtALimit) {
  // In memory where the system offers it: freeing twenty thousand folders
  // on a disk that discards each freed block takes half a minute. Elsewhere
  // a chain just past the limit shows the limit, if not the crash.
  const bool in_memory = fs::is_directory("/dev/shm");
  struct Chain {
    std::string root;
    ~Chain() {
      RemoveFolderChain(root);
      std::error_code ec;
      fs::remove_all(root, ec);
    }
  } chain{in_memory ? "/dev/shm/" + fs::path(tree_.Root()).parent_path().filename().string() + "/"
                    : tree_.Root()};
  fs::create_directories(chain.root);
  ASSERT_TRUE(MakeFolderChain(chain.root, in_memory ? 20000 : kMaxFolderDepth + 50));
  std::ofstream(chain.root + "top") << "1";

  auto item = Item({"Subdir=1", "DirMonitoring=1", "RealTime=1"}, chain.root);
  item->Restart();
  std::thread check([&] { item->Check(); });  // on a thread of the usual size
  check.join();
  EXPECT_EQ(item->WatchCount(), kMaxFolderDepth + 1);
  // "top" and the folders down to one level deeper than walked, which is
  // seen but not walked, as if it could not be read.
  EXPECT_EQ(item->SnapshotSize(), kMaxFolderDepth + 2);
  fs::last_write_time(chain.root + "top", fs::last_write_time(chain.root + "top") - std::chrono::seconds(3));
  EXPECT_THAT(Check(*item), UnorderedElementsAre("top:2"));
}

// Last-write times at the far ends of what a file system can hold (years
// in the billions, or past what the calendar functions take): such a file
// is recorded and compared like any other.
TEST_F(HostileTreeTest, TimesAtTheEndsOfTime) {
  // Memory-backed file systems keep any 64-bit time; disks clamp it.
  const bool in_memory = fs::is_directory("/dev/shm");
  TempDir disk;
  const std::string root =
      in_memory ? "/dev/shm/" + fs::path(tree_.Root()).parent_path().filename().string() + "-t/"
                : tree_.Root();
  struct Remove {
    std::string root;
    ~Remove() {
      std::error_code ec;
      fs::remove_all(root, ec);
    }
  } remove{root};
  fs::create_directories(root);
  const int64_t times[] = {INT64_MAX, INT64_MIN + 1, 67768036191676799, -67768040609740800, 0};
  for (int i = 0; i < 5; ++i) {
    const std::string name = root + "t" + std::to_string(i);
    std::ofstream(name) << "x";
    ASSERT_TRUE(SetWriteTimeSeconds(name, times[i])) << i;
  }
  // Held at the ends of what an instant holds: the far past is old, the
  // far future is not.
  EXPECT_THAT(Recorded({}, root), UnorderedElementsAre("t1", "t3", "t4"));
  auto item = Item({"StorePrevInfo=1", "Conditions=1110"}, root);
  Check(*item);
  EXPECT_EQ(item->SnapshotSize(), 5u);
  SetWriteTimeSeconds(root + "t0", 1000);
  SetWriteTimeSeconds(root + "t2", 2000);
  EXPECT_THAT(Check(*item), UnorderedElementsAre("t0:2", "t2:2"));
}

// A root of 4000 characters, through the configuration file, watched in
// real time; below it, paths longer than the system lets one call name.
TEST_F(HostileTreeTest, RootOfFourThousandCharacters) {
  const fs::path saved = fs::current_path();
  const std::string part(199, 'q');
  std::string root = tree_.Root();
  // Made step by step from inside, since the whole is too long to name at
  // once later on.
  fs::current_path(tree_.Path(""));
  while (root.size() + part.size() + 1 <= 4000) {
    fs::create_directory(part);
    fs::current_path(part);
    root += part + "/";
  }
  const std::string last(4000 - root.size(), 'r');
  root += last;
  fs::create_directory(last);
  fs::current_path(last);
  ASSERT_EQ(root.size(), 4000u);
  { std::ofstream("top") << "1"; }
  for (int i = 0; i < 3; ++i) {
    fs::create_directory(part);
    fs::current_path(part);
  }
  { std::ofstream("bottom") << "1"; }
  fs::current_path(saved);

  const std::string conf = tree_.Write("long.mon", "IsDirectory=1\nFileName=" + root +
                                                       "\nSubdir=1\nRealTime=1\nInterval=3600\n"
                                                       "Paused=1\nEOF\n");
  MonitorProcess process(services_);
  ASSERT_TRUE(process.Load(conf));
  ASSERT_EQ(process.Monitors().size(), 1u);
  auto* item = dynamic_cast<CheckDirThread*>(process.Monitors()[0].get());
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->FileName().Value(), root + "/");
  item->Restart();
  EXPECT_GE(item->WatchCount(), 1u);  // the root at least; deeper ones may be out of reach

  EXPECT_THAT(Recorded({"Subdir=1"}, root),
              UnorderedElementsAre("top", part + "/" + part + "/" + part + "/bottom"));
  EXPECT_EQ(item->Check(), 0);  // the baseline
  fs::current_path(root);
  { std::ofstream("new") << "1"; }
  fs::current_path(saved);
  EXPECT_EQ(item->Check(), 1);
  ASSERT_EQ(item->ReportedFiles.size(), 1u);
  EXPECT_EQ(item->ReportedFiles[0].Name, root + "/new");
  process.StopAll();

  // The deepest part goes from inside; the rest is short enough to name.
  fs::current_path(root);
  fs::remove_all(part);
  fs::current_path(saved);
}

}  // namespace
}  // namespace sentrel

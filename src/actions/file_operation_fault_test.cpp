// File operations on file systems that fail under them: a destination that
// fills up, a destination that is read-only, sources that go while a batch
// is under way. Whatever happens, no source is lost and nothing incomplete
// carries a final name.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "actions/file_operation.h"
#include "private_mounts.h"
#include "without_override.h"
#include "temp_dir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kPlain = kFofNoConfirmation | kFofNoConfirmMkdir;

// Content that differs from file to file and from place to place in a file,
// so that a misplaced or shortened copy shows.
std::string Content(const std::string& tag, size_t size) {
  std::string s;
  s.reserve(size + 32);
  while (s.size() < size) s += tag + ":" + std::to_string(s.size()) + "\n";
  s.resize(size);
  return s;
}

// Fills the file system of `dir` up to the last byte, in small files so
// that some can be given back.
std::vector<std::string> Fill(const std::string& dir) {
  std::vector<std::string> made;
  const std::string block(4096, 'f');
  for (int i = 0;; ++i) {
    std::string path = dir + "/filler" + std::to_string(i);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) break;
    bool full = ::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size());
    ::close(fd);
    if (full) {
      ::unlink(path.c_str());
      break;
    }
    made.push_back(path);
  }
  return made;
}

class FileOpFaultTest : public ::testing::Test {
 protected:
  FileOpSummary Do(int op, std::vector<std::string> sources, std::vector<std::string> dests,
                   uint16_t flags = kPlain) {
    FileOpRequest r;
    r.op = op;
    r.sources.assign(sources.begin(), sources.end());
    r.destinations = std::move(dests);
    r.flags = flags;
    FileOpEnvironment env;
    env.messages = &sink;
    env.trash_dir = trash_dir;
    return PerformFileOperation(r, env);
  }

  // Entries under `dir` whose names say they are an unfinished copy.
  static std::vector<std::string> Leftovers(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (it->path().filename().string().find(".sentrel-") != std::string::npos) {
        out.push_back(it->path().string());
      }
    }
    return out;
  }

  // Every entry of the trash has its .trashinfo and every .trashinfo its
  // entry; the names of the entries come back.
  static std::set<std::string> TrashEntries(const std::string& trash) {
    std::set<std::string> files, infos;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(trash + "/files", ec)) {
      files.insert(e.path().filename().string());
    }
    for (const auto& e : fs::directory_iterator(trash + "/info", ec)) {
      std::string n = e.path().filename().string();
      const std::string ext = ".trashinfo";
      if (n.size() > ext.size()) infos.insert(n.substr(0, n.size() - ext.size()));
    }
    EXPECT_EQ(files, infos) << "an entry without its information, or the other way round";
    return files;
  }

  TempDir tree;
  CapturingSink sink;
  std::string trash_dir = tree.Sub("Trash");
};

TEST_F(FileOpFaultTest, CopyToAFullFileSystemKeepsOnlyWholeFiles) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_FULL_COPY_CHILD");
  const std::string small = tree.MakeDir("small");
  ScopedMount mount;
  ASSERT_TRUE(mount.Tmpfs(small, "size=256k"));

  const std::string a = tree.Write("src/a", Content("a", 20000));
  const std::string big = tree.Write("src/big", Content("big", 1 << 20));
  const std::string c = tree.Write("src/c", Content("c", 20000));
  FileOpSummary s = Do(kFoCopy, {a, big, c}, {small});
  EXPECT_EQ(s.done, 2);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(small + "/a"), Content("a", 20000));
  EXPECT_FALSE(Exists(small + "/big"));
  EXPECT_EQ(ReadFileText(small + "/c"), Content("c", 20000));
  EXPECT_NE(sink.Text().find("No space left on device"), std::string::npos) << sink.Text();

  // A file that its replacement does not fit over stays as it was.
  tree.Write("small/old", "old");
  EXPECT_EQ(Do(kFoCopy, {big}, {small + "/old"}).failed, 1);
  EXPECT_EQ(ReadFileText(small + "/old"), "old");

  // A copied tree brings what fits, each file whole.
  for (int i = 0; i < 8; ++i) {
    tree.Write("d/f" + std::to_string(i), Content("d" + std::to_string(i), 48000));
  }
  s = Do(kFoCopy, {tree.Sub("d")}, {small + "/tree"});
  EXPECT_GE(s.failed, 1);
  for (int i = 0; i < 8; ++i) {
    const std::string name = "/f" + std::to_string(i);
    const std::string want = Content("d" + std::to_string(i), 48000);
    EXPECT_EQ(ReadFileText(tree.Sub("d") + name), want);
    if (Exists(small + "/tree" + name)) {
      EXPECT_EQ(ReadFileText(small + "/tree" + name), want);
    }
  }
  EXPECT_EQ(ReadFileText(a), Content("a", 20000));
  EXPECT_EQ(ReadFileText(big), Content("big", 1 << 20));
  EXPECT_TRUE(Leftovers(small).empty());
}

TEST_F(FileOpFaultTest, MoveToAFullFileSystemLosesNothing) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_FULL_MOVE_CHILD");
  const std::string small = tree.MakeDir("small");
  ScopedMount mount;
  ASSERT_TRUE(mount.Tmpfs(small, "size=256k"));

  // Across file systems a file that does not fit stays where it was.
  const std::string big = tree.Write("big", Content("big", 1 << 20));
  EXPECT_EQ(Do(kFoMove, {big}, {small + "/big"}).failed, 1);
  EXPECT_EQ(ReadFileText(big), Content("big", 1 << 20));
  EXPECT_FALSE(Exists(small + "/big"));

  // A tree that half fits: every file ends whole in exactly one place.
  for (int i = 0; i < 8; ++i) {
    tree.Write("d/f" + std::to_string(i), Content("d" + std::to_string(i), 48000));
  }
  Do(kFoMove, {tree.Sub("d")}, {small});
  int moved = 0;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "/f" + std::to_string(i);
    const std::string want = Content("d" + std::to_string(i), 48000);
    const bool there = Exists(small + "/d" + name);
    const bool here = Exists(tree.Sub("d") + name);
    EXPECT_NE(there, here) << name;
    EXPECT_EQ(ReadFileText(there ? small + "/d" + name : tree.Sub("d") + name), want) << name;
    moved += there;
  }
  EXPECT_GT(moved, 0);
  EXPECT_LT(moved, 8);
  EXPECT_TRUE(Leftovers(small).empty());

  // Within the full file system a move needs no room: it is a rename.
  std::vector<std::string> filler = Fill(small);
  ASSERT_FALSE(filler.empty());
  const std::string kept = small + "/d/f0";
  const std::string from = Exists(kept) ? kept : filler.front();
  const std::string want = ReadFileText(from);
  tree.MakeDir("small/elsewhere");
  EXPECT_EQ(Do(kFoMove, {from}, {small + "/elsewhere/"}).done, 1);
  EXPECT_FALSE(Exists(from));
  EXPECT_EQ(ReadFileText(small + "/elsewhere/" + fs::path(from).filename().string()), want);
}

TEST_F(FileOpFaultTest, TrashOnAFullFileSystemLeavesTheFileInPlace) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_FULL_TRASH_CHILD");
  const std::string small = tree.MakeDir("small");
  ScopedMount mount;
  ASSERT_TRUE(mount.Tmpfs(small, "size=256k"));
  trash_dir = small + "/Trash";
  tree.MakeDir("small/Trash/files");
  tree.MakeDir("small/Trash/info");
  const std::string local = tree.Write("small/local", "on the trash's own file system");
  std::vector<std::string> filler = Fill(small);
  ASSERT_GT(filler.size(), 4u);
  // Room for the information of a trashed file, not for a large file.
  ::unlink(filler.back().c_str());
  ::unlink(filler[filler.size() - 2].c_str());

  const std::string f = tree.Write("f", Content("f", 200000));
  EXPECT_EQ(Do(kFoDelete, {f}, {}, kPlain | kFofAllowUndo).failed, 1);
  EXPECT_EQ(ReadFileText(f), Content("f", 200000));

  // Nothing at all fits: not even the information is written.
  Fill(small);
  EXPECT_EQ(Do(kFoDelete, {f, local}, {}, kPlain | kFofAllowUndo).failed, 2);
  EXPECT_EQ(ReadFileText(f), Content("f", 200000));
  EXPECT_EQ(ReadFileText(local), "on the trash's own file system");
  EXPECT_TRUE(TrashEntries(trash_dir).empty());
  EXPECT_TRUE(Leftovers(small).empty());
}

TEST_F(FileOpFaultTest, CopyToATreeWithoutFreeInodes) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_INODES_CHILD");
  const std::string small = tree.MakeDir("small");
  ScopedMount mount;
  ASSERT_TRUE(mount.Tmpfs(small, "nr_inodes=11"));
  for (int i = 0; i < 6; ++i) {
    tree.Write("d/sub" + std::to_string(i) + "/f", Content(std::to_string(i), 1000));
  }
  FileOpSummary s = Do(kFoMove, {tree.Sub("d")}, {small});
  EXPECT_GE(s.failed, 1);
  for (int i = 0; i < 6; ++i) {
    const std::string rel = "/d/sub" + std::to_string(i) + "/f";
    const bool there = Exists(small + rel);
    EXPECT_NE(there, Exists(tree.str() + rel)) << rel;
    EXPECT_EQ(ReadFileText(there ? small + rel : tree.str() + rel), Content(std::to_string(i), 1000));
  }
  EXPECT_TRUE(Leftovers(small).empty());
  // A folder made for the move holds what went into it, else it went too.
  for (const auto& e : fs::recursive_directory_iterator(small)) {
    if (e.is_directory()) {
      EXPECT_FALSE(fs::is_empty(e.path())) << e.path();
    }
  }
}

TEST_F(FileOpFaultTest, ReadOnlyDestinationTakesNothingAndKeepsWhatItHas) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_READONLY_DEST_CHILD");
  const std::string backing = tree.MakeDir("backing");
  tree.Write("backing/old.txt", "old");
  tree.MakeDir("backing/Trash/files");
  tree.MakeDir("backing/Trash/info");
  const std::string ro = tree.MakeDir("ro");
  const std::string rotmp = tree.MakeDir("rotmp");
  ScopedMount bind, tmp;
  ASSERT_TRUE(bind.ReadOnlyBind(backing, ro));
  ASSERT_TRUE(tmp.Tmpfs(rotmp, "size=1m", /*read_only=*/true));

  const std::string a = tree.Write("src/a", Content("a", 30000));
  tree.Write("d/x/y", "y");
  EXPECT_EQ(Do(kFoCopy, {a}, {ro}).failed, 1);
  EXPECT_EQ(Do(kFoCopy, {a}, {ro + "/old.txt"}).failed, 1);
  EXPECT_EQ(Do(kFoCopy, {a}, {ro + "/new/deeper/a"}).failed, 1);
  // The same file system behind another, read-only mount.
  EXPECT_EQ(Do(kFoMove, {a}, {ro + "/a"}).failed, 1);
  EXPECT_EQ(Do(kFoMove, {tree.Sub("d")}, {ro}).failed, 1);
  EXPECT_EQ(Do(kFoMove, {a, tree.Sub("d")}, {rotmp}).failed, 2);
  trash_dir = ro + "/Trash";
  EXPECT_EQ(Do(kFoDelete, {a}, {}, kPlain | kFofAllowUndo).failed, 1);
  EXPECT_NE(sink.Text().find("Read-only file system"), std::string::npos) << sink.Text();

  EXPECT_EQ(ReadFileText(a), Content("a", 30000));
  EXPECT_EQ(ReadFileText(tree.Sub("d/x/y")), "y");
  EXPECT_EQ(ReadFileText(backing + "/old.txt"), "old");
  std::vector<std::string> in_backing;
  for (const auto& e : fs::recursive_directory_iterator(backing)) {
    in_backing.push_back(e.path().lexically_relative(backing).string());
  }
  std::sort(in_backing.begin(), in_backing.end());
  EXPECT_EQ(in_backing,
            (std::vector<std::string>{"Trash", "Trash/files", "Trash/info", "old.txt"}));
  EXPECT_TRUE(fs::is_empty(rotmp));
}

// A source that cannot be removed (it lies on a read-only mount): a move
// leaves a copy and says so; a delete to the trash does nothing at all, so
// that the trash holds no second copy of a file still in its place.
TEST_F(FileOpFaultTest, ReadOnlySourceIsNeverHalfTrashed) {
  SENTREL_RUN_WITH_PRIVATE_MOUNTS("SENTREL_FILEOP_READONLY_SOURCE_CHILD");
  const std::string backing = tree.MakeDir("backing");
  tree.Write("backing/keep", Content("keep", 70000));
  tree.Write("backing/link-target", "t");
  ::symlink("link-target", (backing + "/link").c_str());
  const std::string ro = tree.MakeDir("ro");
  ScopedMount bind;
  ASSERT_TRUE(bind.ReadOnlyBind(backing, ro));

  FileOpSummary s = Do(kFoMove, {ro + "/keep"}, {tree.Sub("out/keep")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(ro + "/keep"), Content("keep", 70000));
  EXPECT_EQ(ReadFileText(tree.Sub("out/keep")), Content("keep", 70000));

  s = Do(kFoDelete, {ro + "/keep", ro + "/link"}, {}, kPlain | kFofAllowUndo);
  EXPECT_EQ(s.failed, 2);
  EXPECT_EQ(s.done, 0);
  EXPECT_EQ(ReadFileText(ro + "/keep"), Content("keep", 70000));
  EXPECT_TRUE(fs::is_symlink(ro + "/link"));
  EXPECT_TRUE(TrashEntries(trash_dir).empty());
  EXPECT_TRUE(Leftovers(tree.str()).empty());
}

// A folder that cannot be read is not copied as an empty one. Its mode
// forbids reading, and the operations run on a thread that cannot pass over
// permission bits even as root.
TEST_F(FileOpFaultTest, FolderThatCannotBeReadLeavesNoEmptyCopy) {
  tree.Write("d/f", "f");
  const std::string out = tree.MakeDir("out");
  fs::permissions(tree.Sub("d"), fs::perms::owner_write | fs::perms::owner_exec);
  // Across file systems a move is a copy too.
  TempDir shm("/dev/shm");
  const bool across = shm.ok() && DeviceOf(shm.str()) != DeviceOf(tree.str());
  FileOpSummary copied, moved;
  const bool ran = RunWithoutOverridingPermissions([&] {
    copied = Do(kFoCopy, {tree.Sub("d")}, {out});
    if (across) moved = Do(kFoMove, {tree.Sub("d")}, {shm.Sub("d")});
  });
  fs::permissions(tree.Sub("d"), fs::perms::owner_all);
  if (!ran) GTEST_SKIP() << "cannot drop the permission override capabilities";
  EXPECT_EQ(copied.failed, 1);
  EXPECT_FALSE(Exists(out + "/d"));
  if (across) {
    EXPECT_EQ(moved.failed, 1);
    EXPECT_FALSE(Exists(shm.Sub("d")));
  }
  EXPECT_EQ(ReadFileText(tree.Sub("d/f")), "f");
}

// A folder inside a tree is swapped for a link to a folder outside it, again
// and again, while the tree is deleted or moved to another file system (an
// age-based cleanup of a shared folder meets this): whatever the timing, the
// folder the link leads to is never touched.
TEST_F(FileOpFaultTest, ASubfolderSwappedForALinkNeverLeadsOutside) {
  TempDir shm("/dev/shm");
  const bool across = shm.ok() && DeviceOf(shm.str()) != DeviceOf(tree.str());
  const std::string sentinel = tree.MakeDir("sentinel");
  for (int i = 0; i < 20; ++i) tree.Write("sentinel/s" + std::to_string(i), "keep");
  const std::string victim = tree.Sub("victim");
  const std::string sub = victim + "/sub", aside = victim + "/aside";
  for (int round = 0; round < 200; ++round) {
    for (int i = 0; i < 20; ++i) tree.Write("victim/sub/s" + std::to_string(i), "x");
    std::atomic<bool> done{false};
    std::thread swapper([&] {
      while (!done.load()) {
        if (::rename(sub.c_str(), aside.c_str()) != 0) continue;
        ::symlink(sentinel.c_str(), sub.c_str());
        for (int spin = 0; spin < 20; ++spin) std::this_thread::yield();
        ::unlink(sub.c_str());
        ::rename(aside.c_str(), sub.c_str());
      }
    });
    if (across && round % 2 == 1) {
      Do(kFoMove, {victim}, {shm.Sub("moved" + std::to_string(round))});
    } else {
      Do(kFoDelete, {victim}, {});
    }
    done = true;
    swapper.join();
    int kept = 0;
    for (const auto& e : fs::directory_iterator(sentinel)) kept += ReadFileText(e.path()) == "keep";
    ASSERT_EQ(kept, 20) << "round " << round;
    fs::remove_all(victim);
  }
}

// Sources deleted by someone else while one batch goes through them: each
// file that was not deleted is done whole or still at its source, and
// counted; a copy made of a file that went meanwhile is whole too.
class VanishingSourcesTest : public FileOpFaultTest {
 protected:
  static constexpr int kFiles = 200;

  static std::string Name(int i) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "f%03d", i);
    return buf;
  }

  // Runs `op` over every source while another thread deletes every second
  // one of them, from the last backwards; the numbers it deleted.
  std::set<int> RunAgainstDeleter(int op, const std::string& target, FileOpSummary& summary,
                                  uint16_t flags = kPlain) {
    std::vector<std::string> sources;
    for (int i = 0; i < kFiles; ++i) {
      sources.push_back(tree.Write("src/" + Name(i), Content(Name(i), 3000)));
    }
    std::atomic<bool> go{false};
    std::set<int> deleted;
    std::thread deleter([&] {
      while (!go.load()) std::this_thread::yield();
      for (int i = kFiles - 1; i >= 0; i -= 2) {
        if (::unlink(sources[i].c_str()) == 0) deleted.insert(i);
        std::this_thread::yield();
      }
    });
    go = true;
    summary =
        Do(op, sources,
           target.empty() ? std::vector<std::string>{} : std::vector<std::string>{target}, flags);
    deleter.join();
    EXPECT_EQ(summary.done + summary.failed, kFiles);
    return deleted;
  }

  // After a move to `dest` (or into the trash when `dest` is empty).
  void ExpectEachFileInOnePlace(const std::set<int>& deleted, const std::string& dest) {
    if (dest.empty()) TrashEntries(trash_dir);
    for (int i = 0; i < kFiles; ++i) {
      const std::string want = Content(Name(i), 3000);
      const std::string moved =
          dest.empty() ? trash_dir + "/files/" + Name(i) : dest + "/" + Name(i);
      const bool there = Exists(moved);
      if (there) {
        EXPECT_EQ(ReadFileText(moved), want) << moved;
      }
      if (deleted.count(i) != 0) continue;
      const bool here = Exists(tree.Sub("src/" + Name(i)));
      EXPECT_NE(there, here) << Name(i);
      if (here) {
        EXPECT_EQ(ReadFileText(tree.Sub("src/" + Name(i))), want) << Name(i);
      }
    }
  }
};

TEST_F(VanishingSourcesTest, Copy) {
  FileOpSummary s;
  std::set<int> deleted = RunAgainstDeleter(kFoCopy, tree.Sub("out"), s);
  EXPECT_GE(s.failed, 1);
  for (int i = 0; i < kFiles; ++i) {
    const std::string want = Content(Name(i), 3000);
    const std::string copy = tree.Sub("out/" + Name(i));
    if (deleted.count(i) == 0) {
      EXPECT_EQ(ReadFileText(copy), want) << Name(i);
      EXPECT_EQ(ReadFileText(tree.Sub("src/" + Name(i))), want) << Name(i);
    } else if (Exists(copy)) {
      EXPECT_EQ(ReadFileText(copy), want) << Name(i);
    }
  }
  EXPECT_TRUE(Leftovers(tree.str()).empty());
}

TEST_F(VanishingSourcesTest, MoveWithinOneFileSystem) {
  FileOpSummary s;
  std::set<int> deleted = RunAgainstDeleter(kFoMove, tree.Sub("out"), s);
  ExpectEachFileInOnePlace(deleted, tree.Sub("out"));
  EXPECT_TRUE(Leftovers(tree.str()).empty());
}

TEST_F(VanishingSourcesTest, MoveAcrossFileSystems) {
  TempDir shm("/dev/shm");
  if (!shm.ok() || DeviceOf(shm.str()) == DeviceOf(tree.str())) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  FileOpSummary s;
  std::set<int> deleted = RunAgainstDeleter(kFoMove, shm.Sub("out"), s);
  ExpectEachFileInOnePlace(deleted, shm.Sub("out"));
  EXPECT_TRUE(Leftovers(shm.str()).empty());
}

TEST_F(VanishingSourcesTest, DeleteToTheTrash) {
  FileOpSummary s;
  std::set<int> deleted = RunAgainstDeleter(kFoDelete, "", s, kPlain | kFofAllowUndo);
  ExpectEachFileInOnePlace(deleted, "");
}

TEST_F(VanishingSourcesTest, DeleteToATrashOnAnotherFileSystem) {
  TempDir shm("/dev/shm");
  if (!shm.ok() || DeviceOf(shm.str()) == DeviceOf(tree.str())) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  trash_dir = shm.Sub("Trash");
  FileOpSummary s;
  std::set<int> deleted = RunAgainstDeleter(kFoDelete, "", s, kPlain | kFofAllowUndo);
  ExpectEachFileInOnePlace(deleted, "");
  EXPECT_TRUE(Leftovers(shm.str()).empty());
}

// Whole folders deleted while they are moved to another file system: the
// others go whole, and what went of the deleted ones went whole.
TEST_F(VanishingSourcesTest, FoldersMovedAcrossFileSystems) {
  TempDir shm("/dev/shm");
  if (!shm.ok() || DeviceOf(shm.str()) == DeviceOf(tree.str())) {
    GTEST_SKIP() << "no second file system at /dev/shm";
  }
  std::vector<std::string> sources;
  for (int i = 0; i < kFiles; ++i) {
    tree.Write("src/" + Name(i) + "/a", Content(Name(i) + "a", 2000));
    tree.Write("src/" + Name(i) + "/b/c", Content(Name(i) + "c", 2000));
    sources.push_back(tree.Sub("src/" + Name(i)));
  }
  std::atomic<bool> go{false};
  std::thread deleter([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = kFiles - 1; i >= 0; i -= 2) {
      std::error_code ec;
      fs::remove_all(sources[i], ec);
    }
  });
  go = true;
  Do(kFoMove, sources, {shm.str()});
  deleter.join();
  for (int i = 0; i < kFiles; ++i) {
    for (const std::string rel : {"/a", "/b/c"}) {
      const std::string want = Content(Name(i) + rel.back(), 2000);
      const std::string here = sources[i] + rel;
      const std::string there = shm.Sub(Name(i)) + rel;
      if (Exists(there)) {
        EXPECT_EQ(ReadFileText(there), want) << there;
      }
      if (i % 2 == 1) continue;  // deleted, or not yet, by the other thread
      EXPECT_NE(Exists(here), Exists(there)) << here;
      if (Exists(here)) {
        EXPECT_EQ(ReadFileText(here), want) << here;
      }
    }
  }
  EXPECT_TRUE(Leftovers(shm.str()).empty());
}

// A source swapped for another file (a save by rename) while it is being
// copied to another file system: the copy is of the old file, and the new
// one stays where it was put.
class ReplacedSourceTest : public FileOpFaultTest {
 protected:
  void SetUp() override {
    if (!shm.ok() || DeviceOf(shm.str()) == DeviceOf(tree.str())) {
      GTEST_SKIP() << "no second file system at /dev/shm";
    }
  }

  // Moves `src` while a thread puts a new file in its place as soon as a
  // temporary copy shows in `watched`. False when the swap came too late to
  // test anything.
  bool MoveWhileReplaced(const std::string& src, const std::string& watched,
                         const std::function<void()>& move) {
    const std::string fresh = tree.Write("fresh", "saved meanwhile");
    const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (fd < 0 || ::inotify_add_watch(fd, watched.c_str(), IN_CREATE) < 0) return false;
    std::atomic<bool> in_time{false};
    std::thread swapper([&] {
      alignas(struct inotify_event) char buf[4096];
      struct pollfd p = {fd, POLLIN, 0};
      while (::poll(&p, 1, 20000) > 0) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        for (ssize_t off = 0; off < n;) {
          auto* e = reinterpret_cast<struct inotify_event*>(buf + off);
          off += static_cast<ssize_t>(sizeof *e + e->len);
          const std::string name = e->len == 0 ? "" : e->name;
          if (name.rfind(".sentrel-", 0) != 0) continue;
          ::rename(fresh.c_str(), src.c_str());
          // Still a temporary: the copy had not finished.
          in_time = Exists(watched + "/" + e->name);
          return;
        }
      }
    });
    move();
    swapper.join();
    ::close(fd);
    return in_time;
  }

  TempDir shm{"/dev/shm"};
};

TEST_F(ReplacedSourceTest, MoveKeepsTheNewFile) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string src = tree.Write("doc", std::string(32 << 20, 'o'));
    const std::string dst = shm.Sub("doc" + std::to_string(attempt));
    FileOpSummary s;
    const bool in_time = MoveWhileReplaced(src, shm.str(), [&] { s = Do(kFoMove, {src}, {dst}); });
    EXPECT_EQ(ReadFileText(src), "saved meanwhile");
    if (!in_time) continue;
    EXPECT_EQ(ReadFileText(dst), std::string(32 << 20, 'o'));
    EXPECT_EQ(s.failed, 1);
    EXPECT_TRUE(Leftovers(shm.str()).empty());
    return;
  }
  GTEST_SKIP() << "the swap never came while the copy was under way";
}

TEST_F(ReplacedSourceTest, TrashKeepsTheNewFile) {
  trash_dir = shm.Sub("Trash");
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::string src = tree.Write("doc", std::string(32 << 20, 'o'));
    fs::create_directories(trash_dir + "/files");
    FileOpSummary s;
    const bool in_time = MoveWhileReplaced(src, trash_dir + "/files", [&] {
      s = Do(kFoDelete, {src}, {}, kPlain | kFofAllowUndo);
    });
    EXPECT_EQ(ReadFileText(src), "saved meanwhile");
    if (!in_time) continue;
    EXPECT_EQ(s.failed, 1);
    // Whatever the trash kept, it kept with its information.
    TrashEntries(trash_dir);
    EXPECT_TRUE(Leftovers(shm.str()).empty());
    return;
  }
  GTEST_SKIP() << "the swap never came while the copy was under way";
}

}  // namespace
}  // namespace sentrel

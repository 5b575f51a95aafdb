#include "actions/file_operation.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "actions/fileop_action.h"
#include "temp_dir.h"

namespace sentrel {
namespace {


class ScriptedConfirmer final : public Confirmer {
 public:
  explicit ScriptedConfirmer(bool answer) : answer_(answer) {}
  bool Confirm(const std::string& question) override {
    questions.push_back(question);
    return answer_;
  }
  std::vector<std::string> questions;

 private:
  bool answer_;
};

class FileOperationTest : public ::testing::Test {
 protected:
  FileOpSummary Do(int op, std::vector<std::string> sources, std::vector<std::string> dests,
                   uint16_t flags = kFofNoConfirmation | kFofNoConfirmMkdir,
                   Confirmer* confirmer = nullptr) {
    FileOpRequest r;
    r.op = op;
    r.sources.assign(sources.begin(), sources.end());
    r.destinations = std::move(dests);
    r.flags = flags;
    FileOpEnvironment env;
    env.messages = &sink;
    env.confirmer = confirmer;
    env.trash_dir = trash_dir;
    return PerformFileOperation(r, env);
  }

  // No temporary copy may be left anywhere under `dir`.
  static bool NoLeftovers(const std::string& dir) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
      if (e.path().filename().string().find(".sentrel-") != std::string::npos) return false;
    }
    return true;
  }

  TempDir tree;
  CapturingSink sink;
  std::string trash_dir = tree.Sub("Trash");
};

TEST(FileOpFlagRule, FollowsTheSwitches) {
  struct Row {
    bool files_only, allow_undo, show_progress, yes_to_all, single_arg;
    uint16_t flags;
  } rows[] = {
      {false, false, true, true, false, 0x210},  {false, false, true, true, true, 0x210},
      {false, false, true, false, false, 0x200}, {false, false, true, false, true, 0x200},
      {false, false, false, true, false, 0x614}, {false, false, false, false, false, 0x614},
      {false, false, false, true, true, 0x210},  {false, false, false, false, true, 0x210},
      {true, false, true, true, false, 0x290},   {false, true, true, true, false, 0x250},
      {true, true, false, false, false, 0x6D4},  {false, true, true, false, true, 0x240},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(FileOpFlagsFor(r.files_only, r.allow_undo, r.show_progress, r.yes_to_all,
                             r.single_arg),
              r.flags)
        << r.files_only << r.allow_undo << r.show_progress << r.yes_to_all << r.single_arg;
  }
}

TEST(FileOpList, EndsAtTheFirstEmptyEntry) {
  EXPECT_EQ(SplitOpList("a;b"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitOpList("a;b;"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(SplitOpList("a;;b"), (std::vector<std::string>{"a"}));
  EXPECT_TRUE(SplitOpList(";a").empty());
  EXPECT_TRUE(SplitOpList("").empty());
}

TEST_F(FileOperationTest, CopiesOneFileToANewNameCreatingItsFolders) {
  std::string a = tree.Write("a.txt", "alpha");
  FileOpSummary s = Do(kFoCopy, {a}, {tree.Sub("out/deep/b.txt")});
  EXPECT_EQ(s.done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("out/deep/b.txt")), "alpha");
  EXPECT_EQ(ReadFileText(a), "alpha");
  EXPECT_NE(sink.Text().find("Copy: " + a + " -> " + tree.Sub("out/deep/b.txt")),
            std::string::npos);
}

TEST_F(FileOperationTest, SeveralSourcesOrAWildcardGoIntoTheTargetDirectory) {
  std::string a = tree.Write("src/a.txt", "a");
  std::string b = tree.Write("src/b.log", "b");
  tree.Write("src/C.TXT", "c");
  tree.MakeDir("src/sub.txt");
  tree.Write("src/sub.txt/inner", "i");

  // A missing source is passed over; the others are still copied.
  FileOpSummary s = Do(kFoCopy, {a, tree.Sub("src/missing"), b}, {tree.Sub("two")});
  EXPECT_EQ(s.done, 2);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("two/a.txt")), "a");
  EXPECT_EQ(ReadFileText(tree.Sub("two/b.log")), "b");
  EXPECT_NE(sink.Text().find("Cannot copy"), std::string::npos);

  // Case folds for the ASCII letters; directories match unless files only.
  Do(kFoCopy, {tree.Sub("src/*.txt")}, {tree.Sub("all")});
  EXPECT_TRUE(Exists(tree.Sub("all/a.txt")));
  EXPECT_TRUE(Exists(tree.Sub("all/C.TXT")));
  EXPECT_EQ(ReadFileText(tree.Sub("all/sub.txt/inner")), "i");
  EXPECT_FALSE(Exists(tree.Sub("all/b.log")));

  Do(kFoCopy, {tree.Sub("src/*.txt")}, {tree.Sub("files")},
     kFofNoConfirmation | kFofNoConfirmMkdir | kFofFilesOnly);
  EXPECT_TRUE(Exists(tree.Sub("files/a.txt")));
  EXPECT_FALSE(Exists(tree.Sub("files/sub.txt")));

  // One wildcard match is still put into the directory.
  Do(kFoCopy, {tree.Sub("src/*.log")}, {tree.Sub("one")});
  EXPECT_EQ(ReadFileText(tree.Sub("one/b.log")), "b");
}

TEST_F(FileOperationTest, CopiesDirectoriesWithContentAndLinks) {
  tree.Write("d/x/y.txt", "deep");
  ::symlink("x/y.txt", tree.Sub("d/link").c_str());
  tree.MakeDir("existing");
  ::chmod(tree.Sub("d/x").c_str(), 0555);
  Do(kFoCopy, {tree.Sub("d")}, {tree.Sub("existing")});
  EXPECT_EQ(ReadFileText(tree.Sub("existing/d/x/y.txt")), "deep");
  struct stat st{};
  ::stat(tree.Sub("existing/d/x").c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
  ::chmod(tree.Sub("existing/d/x").c_str(), 0755);
  ::chmod(tree.Sub("d/x").c_str(), 0755);
  EXPECT_EQ(std::filesystem::read_symlink(tree.Sub("existing/d/link")).string(), "x/y.txt");
  EXPECT_TRUE(NoLeftovers(tree.str()));
}

TEST_F(FileOperationTest, RefusesToCopyADirectoryIntoItself) {
  tree.Write("d/f", "f");
  FileOpSummary s = Do(kFoCopy, {tree.Sub("d")}, {tree.Sub("d/inside/")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_FALSE(Exists(tree.Sub("d/inside/d")));
  s = Do(kFoMove, {tree.Sub("d")}, {tree.Sub("d/sub/d2")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("d/f")), "f");
}

TEST_F(FileOperationTest, OverwritesOnlyWhenNoConfirmationIsAskedOrTheUserAgrees) {
  std::string a = tree.Write("a", "new");
  std::string b = tree.Write("b", "old");
  const uint16_t ask = kFofNoConfirmMkdir;

  // Nobody to ask: the answer is no.
  FileOpSummary s = Do(kFoCopy, {a}, {b}, ask, nullptr);
  EXPECT_EQ(s.skipped, 1);
  EXPECT_EQ(ReadFileText(b), "old");

  ScriptedConfirmer no(false);
  Do(kFoMove, {a}, {b}, ask, &no);
  ASSERT_EQ(no.questions.size(), 1u);
  EXPECT_NE(no.questions[0].find(b), std::string::npos);
  EXPECT_EQ(ReadFileText(b), "old");
  EXPECT_EQ(ReadFileText(a), "new");

  ScriptedConfirmer yes(true);
  Do(kFoCopy, {a}, {b}, ask, &yes);
  EXPECT_EQ(ReadFileText(b), "new");

  tree.Write("b", "old");
  Do(kFoCopy, {a}, {b});
  EXPECT_EQ(ReadFileText(b), "new");

  // A file never replaces a directory.
  tree.Write("dir/a/keep", "k");
  s = Do(kFoMove, {a}, {tree.Sub("dir")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("dir/a/keep")), "k");
  EXPECT_EQ(ReadFileText(a), "new");
}

class CrossDeviceTest : public FileOperationTest {
 protected:
  void SetUp() override {
    if (!shm.ok() || DeviceOf(shm.str()) == DeviceOf(tree.str())) {
      GTEST_SKIP() << "no second file system at /dev/shm";
    }
  }
  TempDir shm{"/dev/shm"};
};

TEST_F(CrossDeviceTest, MovesFilesAndTreesByVerifiedCopy) {
  std::string f = tree.Write("f.bin", std::string(300000, 'x'));
  struct stat before{};
  ::stat(f.c_str(), &before);
  FileOpSummary s = Do(kFoMove, {f}, {shm.Sub("f.bin")});
  EXPECT_EQ(s.done, 1);
  EXPECT_FALSE(Exists(f));
  EXPECT_EQ(ReadFileText(shm.Sub("f.bin")), std::string(300000, 'x'));
  struct stat after{};
  ::stat(shm.Sub("f.bin").c_str(), &after);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);

  // A name of 250 bytes leaves no room for a temporary name built on it.
  const std::string long_name = std::string(246, 'n') + ".txt";
  f = tree.Write(long_name, "long");
  EXPECT_EQ(Do(kFoMove, {f}, {shm.str()}).done, 1);
  EXPECT_EQ(ReadFileText(shm.Sub(long_name)), "long");

  tree.Write("d/a", "a");
  tree.Write("d/e/b", "b");
  s = Do(kFoMove, {tree.Sub("d")}, {shm.str()});
  EXPECT_EQ(s.done, 1);
  EXPECT_FALSE(Exists(tree.Sub("d")));
  EXPECT_EQ(ReadFileText(shm.Sub("d/e/b")), "b");
  EXPECT_TRUE(NoLeftovers(shm.str()));
}

TEST_F(CrossDeviceTest, KeepsTheSourceWhenItsCopyFails) {
  // Anything that cannot be copied stays where it is, with its directory.
  tree.Write("d/a", "a");
  ASSERT_EQ(::mkfifo(tree.Sub("d/pipe").c_str(), 0600), 0);
  FileOpSummary s = Do(kFoMove, {tree.Sub("d")}, {shm.Sub("d")});
  EXPECT_EQ(s.failed, 1);
  EXPECT_TRUE(Exists(tree.Sub("d/pipe")));
  EXPECT_EQ(ReadFileText(shm.Sub("d/a")), "a");

  // A copy cut short by the file-size limit leaves no partial file, and
  // the source stays.
  std::string big = tree.Write("big", std::string(1 << 20, 'b'));
  struct rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  auto prev = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  s = Do(kFoMove, {big}, {shm.Sub("big")});
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, prev);
  EXPECT_EQ(s.failed, 1);
  EXPECT_EQ(ReadFileText(big).size(), size_t{1} << 20);
  EXPECT_FALSE(Exists(shm.Sub("big")));
  EXPECT_TRUE(NoLeftovers(shm.str()));
}

TEST_F(CrossDeviceTest, TrashesAcrossFileSystems) {
  std::string f = shm.Write("report.txt", "r");
  FileOpSummary s = Do(kFoDelete, {f}, {}, kFofNoConfirmation | kFofAllowUndo);
  EXPECT_EQ(s.done, 1);
  EXPECT_FALSE(Exists(f));
  EXPECT_EQ(ReadFileText(trash_dir + "/files/report.txt"), "r");
  EXPECT_NE(ReadFileText(trash_dir + "/info/report.txt.trashinfo").find("Path=" + f + "\n"),
            std::string::npos);
}

TEST_F(FileOperationTest, DeletesTreesOrSendsThemToTheTrash) {
  tree.Write("d/x/y", "y");
  std::string f = tree.Write("a b%.txt", "a");
  FileOpSummary s = Do(kFoDelete, {tree.Sub("d"), tree.Sub("nothing")}, {});
  EXPECT_EQ(s.done, 1);
  EXPECT_EQ(s.failed, 1);
  EXPECT_FALSE(Exists(tree.Sub("d")));

  Do(kFoDelete, {f}, {}, kFofNoConfirmation | kFofAllowUndo);
  EXPECT_FALSE(Exists(f));
  EXPECT_EQ(ReadFileText(trash_dir + "/files/a b%.txt"), "a");
  std::string info = ReadFileText(trash_dir + "/info/a b%.txt.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + tree.str() + "/a%20b%25.txt\nDeletionDate=", 0),
            0u)
      << info;

  // The same name again takes the next free slot.
  tree.Write("a b%.txt", "second");
  Do(kFoDelete, {f}, {}, kFofNoConfirmation | kFofAllowUndo);
  EXPECT_EQ(ReadFileText(trash_dir + "/files/a b%.txt.2"), "second");
  EXPECT_TRUE(Exists(trash_dir + "/info/a b%.txt.2.trashinfo"));
}

TEST_F(FileOperationTest, DeletesNothingUnlessConfirmed) {
  std::string a = tree.Write("a", "a");
  std::string b = tree.Write("b", "b");
  FileOpSummary s = Do(kFoDelete, {a, b}, {}, kFofNoConfirmMkdir, nullptr);
  EXPECT_EQ(s.skipped, 2);
  EXPECT_TRUE(Exists(a) && Exists(b));

  ScriptedConfirmer yes(true);
  Do(kFoDelete, {tree.Sub("*")}, {}, kFofNoConfirmMkdir, &yes);
  ASSERT_EQ(yes.questions.size(), 1u);
  EXPECT_NE(yes.questions[0].find("these 2 items"), std::string::npos);
  EXPECT_FALSE(Exists(a) || Exists(b));
}

TEST_F(FileOperationTest, RenamesOneEntryWithinItsDirectory) {
  std::string a = tree.Write("a.txt", "a");
  tree.MakeDir("other");
  EXPECT_EQ(Do(kFoRename, {a}, {"b.txt"}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("b.txt")), "a");

  std::string b = tree.Sub("b.txt");
  EXPECT_EQ(Do(kFoRename, {b}, {tree.Sub("other/c.txt")}).failed, 1);
  EXPECT_EQ(Do(kFoRename, {tree.Sub("*.txt")}, {tree.Sub("c.txt")}).failed, 1);
  EXPECT_EQ(Do(kFoRename, {b, b}, {tree.Sub("c.txt")}).done, 0);
  EXPECT_TRUE(Exists(b));
  EXPECT_EQ(Do(kFoRename, {b}, {tree.Sub("c.txt")}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("c.txt")), "a");
}

TEST_F(FileOperationTest, SilentOperationsPrintNothingButOneLineForFailures) {
  const uint16_t silent = kFofNoConfirmation | kFofSilent | kFofNoErrorUi;
  std::string a = tree.Write("a", "a");
  // A source that is not there is nothing lost.
  Do(kFoCopy, {a, tree.Sub("missing")}, {tree.Sub("out")}, silent);
  EXPECT_TRUE(Exists(tree.Sub("out/a")));
  EXPECT_EQ(sink.Text(), "");

  std::string b = tree.Write("b", "b");
  Do(kFoCopy, {a, b}, {tree.Sub("a/inside/")}, silent);
  Do(kFoMove, {tree.Sub("out/a"), b}, {tree.Sub("a/")}, silent);
  EXPECT_EQ(sink.Text(), "Cannot create \"" + tree.Sub("a/inside") + "\": Not a directory\n" +
                             "Cannot create \"" + a + "\": Not a directory\n");
}

// 82 characters of three bytes and ".txt": 250 bytes, where the limit of a
// name is 255.
TEST_F(FileOperationTest, NamesAsLongAsTheFileSystemAllowsAndAPrivateTrash) {
  std::string name;
  for (int i = 0; i < 82; ++i) name += "\xe6\x96\x87";
  name += ".txt";
  const std::string f = tree.Write(name, "long");
  EXPECT_EQ(Do(kFoCopy, {f}, {tree.Sub("copy/")}).done, 1);
  EXPECT_EQ(ReadFileText(tree.Sub("copy/" + name)), "long");

  trash_dir = tree.Sub("data/Trash");
  EXPECT_EQ(Do(kFoDelete, {f, tree.Sub("copy/" + name)}, {}, kFofNoConfirmation | kFofAllowUndo)
                .done,
            2);
  std::string url;
  for (int i = 0; i < 82; ++i) url += "%E6%96%87";
  std::set<std::string> paths;
  for (const auto& e : std::filesystem::directory_iterator(trash_dir + "/files")) {
    const std::string slot = e.path().filename().string();
    EXPECT_EQ(ReadFileText(e.path().string()), "long");
    std::string info = ReadFileText(trash_dir + "/info/" + slot + ".trashinfo");
    paths.insert(info.substr(0, info.find("\nDeletionDate=")));
  }
  EXPECT_EQ(paths, (std::set<std::string>{"[Trash Info]\nPath=" + tree.str() + "/" + url + ".txt",
                                          "[Trash Info]\nPath=" + tree.str() + "/copy/" + url +
                                              ".txt"}));
  // Folders that hold what a user deleted are theirs alone.
  for (const char* made : {"data", "data/Trash", "data/Trash/files", "data/Trash/info"}) {
    struct stat st{};
    ::stat(tree.Sub(made).c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
  }
}

}  // namespace
}  // namespace sentrel

// File operations with links, permissions, a second file system and the
// freedesktop trash.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "actions/file_operation.h"
#include "file_operation_fixture.h"
#include "private_mounts.h"

namespace sentrel {
namespace {

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

TEST_F(FileOperationTest, SendsEntriesToTheFreedesktopTrash) {
  std::string f = tree.Write("a b%.txt", "a");
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

  // The folder that holds the trash stays, and a dry run says so first.
  CapturingSink preview_out;
  PreviewSteps preview(preview_out);
  const size_t said = sink.Text().size();
  for (FileOpSteps* steps : {static_cast<FileOpSteps*>(&preview), &DiskSteps()}) {
    EXPECT_EQ(Do(kFoDelete, {tree.str()}, {}, kFofNoConfirmation | kFofAllowUndo, nullptr, steps)
                  .failed,
              1);
  }
  EXPECT_EQ(preview_out.Text(), "");
  const std::string refused =
      "Cannot move \"" + tree.str() + "\" to the trash: the trash is inside it\n";
  EXPECT_EQ(sink.Text().substr(said), refused + refused);
  EXPECT_TRUE(Exists(trash_dir + "/files/a b%.txt.2"));
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

TEST_F(FileOperationTest, SilentOperationsStillSayWhatFailed) {
  const uint16_t silent = kFofNoConfirmation | kFofSilent | kFofNoErrorUi;
  std::string a = tree.Write("a", "a");
  Do(kFoCopy, {a}, {tree.Sub("out")}, silent);
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

// A check woken by a change looks only at the folders that changed. Its
// reports must be exactly those of a walk of the whole tree: the same files,
// states, times and sizes, in the same order, with the same outcome.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "file_holder.h"
#include "monitor/chkdir.h"
#include "platform/open_files.h"
#include "platform/paths.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// Two items over one tree: one checks as a real-time wake asks, the other
// walks everything. Both watch, so that both hold back the files of new
// folders alike.
class PartialCheckBase {
 protected:
  void Start(const std::vector<std::string>& settings) {
    for (const bool real_time : {true, false}) {
      auto item = std::make_shared<CheckDirThread>(false, services_);
      std::vector<std::string> lines = {"FileName=" + tree_.Root(), "Subdir=1", "RealTime=1"};
      for (const std::string& l : settings) lines.push_back(l);
      for (auto& l : lines) l += "\n";
      item->ParseBlock(lines);
      (real_time ? partial_ : whole_) = item;
    }
    tree_.Write("sync/mark");
    // Their watchers, without a loop; only the first is told that a check
    // was asked for by a change.
    partial_->Restart();
    whole_->Restart();
    partial_->Check();
    whole_->Check();
  }

  // Both check the tree as it is now; the reports of the partial check,
  // which must be those of the whole walk.
  std::string CheckBoth() {
    // The watcher hears of changes in the order they were made: once it has
    // heard of this one, it has heard of all of them. A time set is a single
    // event, so none of it is left over to be taken for the next one.
    tree_.Touch("sync/mark", std::chrono::seconds(1));
    const std::string sync = tree_.Root() + "sync" + kPathSeparator;
    EXPECT_TRUE(WaitUntil([&] { return partial_->WatcherHeardOfForTesting(sync); }));
    partial_->SetCheckRequested(true);
    const uint8_t p = partial_->Check();
    const uint8_t w = whole_->Check();
    const std::string reported = Reports(*partial_, p);
    EXPECT_EQ(reported, Reports(*whole_, w));
    EXPECT_EQ(partial_->SnapshotSize(), whole_->SnapshotSize());
    return reported;
  }

  // Whether `reported` names `name` (under the root) with `state`.
  bool Has(const std::string& reported, const std::string& name, int state) {
    return reported.find("\n" + tree_.Root() + NativeSeparators(name) + " state " +
                         std::to_string(state) + " ") !=
           std::string::npos;
  }

  static std::string Reports(CheckDirThread& item, uint8_t outcome) {
    std::string out = "outcome " + std::to_string(outcome) + "\n";
    for (const FileData& f : item.ReportedFiles) {
      out += f.Name + " state " + std::to_string(f.State) + " size " + std::to_string(f.Size) +
             " time " + std::to_string(f.Time) + "\n";
    }
    item.ReportedFiles.clear();
    return out;
  }

  // Everything below `dir`, folders and files, as paths.
  std::vector<fs::path> Entries(const fs::path& dir, bool folders) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->path().filename() == "sync") {
        it.disable_recursion_pending();
        continue;
      }
      if (it->is_directory(ec) == folders) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
  }

  // One random change of the tree: files and folders made, written,
  // dated back, removed, renamed and moved, within the tree and across
  // its edge.
  void Change(std::mt19937& rng) {
    auto pick = [&](const std::vector<fs::path>& v) { return v[rng() % v.size()]; };
    const auto folders = Entries(tree_.path(), true);
    const auto files = Entries(tree_.path(), false);
    auto folder = [&] { return folders.empty() || rng() % 4 == 0 ? tree_.path() : pick(folders); };
    const std::string name = names_[rng() % names_.size()] + std::to_string(rng() % 6);
    std::error_code ec;
    switch (rng() % 13) {
      case 0:
      case 1:
        std::ofstream(folder() / name) << rng();
        break;
      case 2:
        if (!files.empty()) std::ofstream(pick(files), std::ios::app) << "more";
        break;
      case 3:
        if (!files.empty()) {
          const fs::path f = pick(files);
          fs::last_write_time(f, fs::last_write_time(f, ec) - std::chrono::seconds(1 + rng() % 100), ec);
        }
        break;
      case 4:
        if (!files.empty()) fs::remove(pick(files), ec);
        break;
      case 5:
        if (!files.empty()) fs::rename(pick(files), folder() / name, ec);
        break;
      case 6: {
        const fs::path d = folder() / name;
        fs::create_directories(d / "inner", ec);
        std::ofstream(d / "a.txt") << 1;
        std::ofstream(d / "inner" / "b.dat") << 2;
        break;
      }
      case 7:
        if (!folders.empty()) fs::remove_all(pick(folders), ec);
        break;
      case 8:
        if (!folders.empty()) fs::rename(pick(folders), folder() / name, ec);
        break;
      case 9:
        if (!folders.empty()) fs::rename(pick(folders), outside_.path() / ("out" + std::to_string(moved_++)), ec);
        break;
      case 10: {
        const auto out = Entries(outside_.path(), true);
        if (!out.empty()) fs::rename(pick(out), folder() / name, ec);
        break;
      }
      case 11:
        if (!folders.empty()) {
          const fs::path d = pick(folders);
          fs::remove_all(d, ec);
          std::ofstream(d) << "now a file";
        }
        break;
      case 12:
        // Two folders of one parent trade names through a third name.
        if (!folders.empty()) {
          const fs::path a = pick(folders);
          std::vector<fs::path> siblings;
          for (const fs::path& f : folders) {
            if (f != a && f.parent_path() == a.parent_path()) siblings.push_back(f);
          }
          if (siblings.empty()) break;
          const fs::path b = pick(siblings), t = a.parent_path() / (name + "-t");
          fs::rename(a, t, ec);
          fs::rename(b, a, ec);
          fs::rename(t, b, ec);
        }
        break;
    }
  }

  TempDir tree_, outside_;
  Services services_;
  std::shared_ptr<CheckDirThread> partial_, whole_;
  std::vector<std::string> names_ = {"f", "x", "doc", "z.txt", "data.dat", ".hidden"};
  int moved_ = 0;
};

class PartialCheckTest : public PartialCheckBase,
                         public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(PartialCheckTest, ReportsWhatAWholeWalkReports) {
  std::mt19937 rng(20261207);
  tree_.Write("a/one.txt");
  tree_.Write("a/b/two.dat");
  tree_.Write("c/three");
  tree_.Write("x1/skipped");
  // Enough subfolders in one folder that they are looked up by name.
  for (int i = 0; i < 20; ++i) tree_.Write("wide/w" + std::to_string(i) + "/f");
  Start(GetParam());
  int partial_checks = 0;
  for (int round = 0; round < 40; ++round) {
    const int changes = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < changes; ++i) Change(rng);
    CheckBoth();
    ASSERT_FALSE(HasFailure()) << "round " << round;
    if (partial_->LastCheckStats().partial) ++partial_checks;
  }
  EXPECT_GE(partial_checks, 30) << "most checks looked only at what changed";
}

std::string SettingsName(const ::testing::TestParamInfo<std::vector<std::string>>& info) {
  static const char* const kNames[] = {"Deletions", "FolderEntries", "MasksAndBreak", "Inverse"};
  return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PartialCheckTest,
    ::testing::Values(std::vector<std::string>{"Conditions=1111", "StorePrevInfo=1"},
                      std::vector<std::string>{"Conditions=1111", "StorePrevInfo=1", "DirMonitoring=1",
                                               "ExclDirMask=x*"},
                      std::vector<std::string>{"Conditions=1110", "StorePrevInfo=1", "Break=1",
                                               "Mask=*.txt;*.dat;f*", "CountHidden=0"},
                      std::vector<std::string>{"Conditions=0011", "Inverse=1"}),
    SettingsName);

class PartialCheckCaseTest : public PartialCheckBase, public ::testing::Test {};

// What nobody announces: a folder moved away and back under its old name,
// changed while it was away; a folder entry whose folder is not walked,
// whose time changes with the names inside.
TEST_F(PartialCheckCaseTest, ChangesNobodyAnnouncesAreStillSeen) {
  tree_.Write("a/f");
  tree_.Write("x/f");
  Start({"Conditions=1110", "StorePrevInfo=1", "DirMonitoring=1", "ExclDirMask=x"});
  fs::rename(tree_.Path("a"), outside_.Path("a"));
  std::ofstream(outside_.Path("a/new")) << 1;
  fs::rename(outside_.Path("a"), tree_.Path("a"));
  std::ofstream(tree_.Path("x/g")) << 1;
  const std::string reported = CheckBoth();
  EXPECT_TRUE(Has(reported, "a/new", 1)) << reported;
  EXPECT_TRUE(Has(reported, "x", 2)) << reported;
  EXPECT_TRUE(partial_->LastCheckStats().partial);
}

// A file in use is left alone; its release (a close without a write) is
// announced by nobody, yet the next check sees it.
TEST_F(PartialCheckCaseTest, AFileReleasedIsSeen) {
  tree_.Write("held");
  Start({"Conditions=1110", "IgnoreOpened=1"});
  {
    FileHolder holder(tree_.Sub("held"));
    ASSERT_TRUE(holder.Started());
    tree_.Touch("held", std::chrono::seconds(-10));
    ASSERT_TRUE(WaitUntil([&] { return IsFileInUse(tree_.Sub("held")); }));
    const std::string reported = CheckBoth();
    EXPECT_FALSE(Has(reported, "held", 2)) << reported;
  }
  const std::string reported = CheckBoth();
  EXPECT_TRUE(Has(reported, "held", 2)) << reported;
  EXPECT_TRUE(partial_->LastCheckStats().partial);
}

}  // namespace
}  // namespace sentrel

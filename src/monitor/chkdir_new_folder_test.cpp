// A file saved into a folder made just before, with real time on: the check
// woken by the new folder may list it while the file is still being
// written, before the folder was watched. It must be reported once, whole,
// as added, as a file saved into a folder that was there already.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "monitor/chkdir.h"
#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

// Remembers every report as the check's number, the state and the size.
class ReportLog final : public CheckDirThread {
 public:
  using CheckDirThread::CheckDirThread;
  uint8_t Check() override {
    const uint8_t r = CheckDirThread::Check();
    std::lock_guard<std::mutex> lock(mu_);
    ++checks_;
    for (const FileData& f : ReportedFiles) log_[f.Name].push_back({checks_, f.State, f.Size});
    return r;
  }
  struct Report {
    int check;
    uint8_t state;
    int64_t size;
  };
  std::map<std::string, std::vector<Report>> Log() {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
  }
  int Checks() {
    std::lock_guard<std::mutex> lock(mu_);
    return checks_;
  }

 private:
  std::mutex mu_;
  std::map<std::string, std::vector<Report>> log_;
  int checks_ = 0;
};

TEST(NewFolderTest, FileWrittenIntoANewFolderIsReportedOnceAndWhole) {
  TempDir tree;
  Services services;
  auto item = std::make_shared<ReportLog>(false, services);
  item->ParseBlock({"FileName=" + tree.Root() + "\n", "Subdir=1\n", "RealTime=1\n",
                    "Interval=3600\n"});
  auto tracker = std::make_shared<ThreadTracker>();
  BaseMonitoring::Start(item, tracker);
  ASSERT_TRUE(WaitUntil([&] { return item->Checks() > 0; }));

  // The file is made with the folder and written once the check that the
  // folder's appearance woke has run: that check meets it still empty.
  constexpr int kRounds = 20;
  const std::string text = "hello\n";
  int first_check[kRounds];
  for (int i = 0; i < kRounds; ++i) {
    const int checks = item->Checks();
    first_check[i] = checks + 1;
    const fs::path folder = tree.Path("n" + std::to_string(i));
    fs::create_directory(folder);
    std::ofstream file(folder / "report.txt", std::ios::binary);
    ASSERT_TRUE(WaitUntil([&] { return item->Checks() > checks; }));
    file << text;
  }
  // Everything before it has been heard of once it is reported.
  std::ofstream(tree.Path("sync")) << "s";
  auto reported = [&](const std::string& path) { return item->Log().count(path) != 0; };
  EXPECT_TRUE(WaitUntil([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (!reported(tree.Sub("n" + std::to_string(i) + "/report.txt"))) return false;
    }
    return reported(tree.Sub("sync"));
  }, 60000));
  const auto log = item->Log();
  item->RequestTerminate();
  item.reset();
  ASSERT_TRUE(tracker->WaitIdle(20000));

  // The check that met the new folder reports nothing of the file, and
  // the first report is of the whole file, added. (A test thread held up
  // past the writer's pause leaves an empty file reported by a later check,
  // as a writer that pauses would: not counted.)
  int wrong = 0;
  for (int i = 0; i < kRounds; ++i) {
    const auto it = log.find(tree.Sub("n" + std::to_string(i) + "/report.txt"));
    if (it == log.end()) continue;
    const auto& first = it->second.front();
    const bool at_once = first.check == first_check[i];
    if (first.state != kStateAdded ||
        (at_once && (first.size != static_cast<int64_t>(text.size()) || it->second.size() > 1))) {
      ++wrong;
      ADD_FAILURE() << it->first << ": first reported by check " << first.check << " (the folder's "
                    << first_check[i] << ") with state " << int(first.state) << ", size "
                    << first.size << "; " << it->second.size() << " reports";
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << kRounds;
}

}  // namespace
}  // namespace sentrel

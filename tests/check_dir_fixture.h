#ifndef SENTREL_TESTS_CHECK_DIR_FIXTURE_H_
#define SENTREL_TESTS_CHECK_DIR_FIXTURE_H_

// Test support: directory items over a temporary tree, checked one check at
// a time.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "monitor/chkdir.h"
#include "temp_dir.h"

namespace sentrel {

class CheckDirTest : public ::testing::Test {
 protected:
  std::shared_ptr<CheckDirThread> Item(std::vector<std::string> lines) {
    auto item = std::make_shared<CheckDirThread>(false, services_);
    const bool has_name = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("FileName=", 0) == 0;
    });
    if (!has_name) lines.insert(lines.begin(), "FileName=" + tree_.Root());
    for (auto& l : lines) l += "\n";
    item->ParseBlock(lines);
    return item;
  }

  // Runs one check; the reported files as "relative-name:state".
  std::vector<std::string> Check(CheckDirThread& item, uint8_t* outcome = nullptr) {
    const uint8_t r = item.Check();
    if (outcome != nullptr) *outcome = r;
    std::vector<std::string> out;
    for (const FileData& f : item.ReportedFiles) out.push_back(Relative(f.Name) + ":" + std::to_string(f.State));
    last_ = item.ReportedFiles;
    item.ReportedFiles.clear();
    return out;
  }

  // The name below the root, with "/" between its pieces.
  std::string Relative(const std::string& name) const {
    const std::string root = tree_.Root();
    std::string rel = name.rfind(root, 0) == 0 ? name.substr(root.size()) : name;
    std::replace(rel.begin(), rel.end(), kPathSeparator, '/');
    return rel;
  }

  TempDir tree_;
  Services services_;
  FileList last_;
};

// With an age rule every old entry is reported at every check, the baseline
// included, so a clock a day ahead lists exactly what the walk records, in
// walk order.
class WalkTest : public CheckDirTest {
 protected:
  WalkTest() : clock_(FakeClock::At(SystemClock().RealNow() + 86400 * kNanosPerSecond)) {
    services_.clock = &clock_;
    tree_.Write("a.txt");
    tree_.Write("README");
    tree_.Write(".hidden");
    tree_.Write("sub/b.txt");
    tree_.Write("sub/deep/c.txt");
    tree_.Write(".hdir/d.txt");
    tree_.Write("skip/e.txt");
    // A link to a folder is an entry of its own, never walked into. Where
    // links cannot be made, the rows go without it.
    std::error_code ec;
    std::filesystem::create_directory_symlink(tree_.Path("sub"), tree_.Path("link"), ec);
    has_link_ = !ec;
  }
  std::vector<std::string> Walked(std::vector<std::string> lines) {
    lines.push_back("ConditionType=1");
    lines.push_back("OlderInterval=60");
    auto item = Item(lines);
    return Check(*item);
  }
  FakeClock clock_;
  bool has_link_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_CHECK_DIR_FIXTURE_H_

#include "shell/log_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.h"
#include "wait_until.h"

namespace sentrel {
namespace {

// The file's lines without their ends (CR LF on Windows).
std::vector<std::string> Lines(const std::string& path) {
  std::istringstream in(ReadFileText(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// Many threads at once: every line arrives once, whole, with its time and
// level, a line handed over in pieces is one line, and an empty line none.
TEST(LogFileTest, EveryLineOfEveryThreadArrivesWholeWithTimeAndLevel) {
  TempDir dir;
  const std::string path = dir.Sub("sentrel.log");
  std::string error;
  ASSERT_TRUE(OpenLogFile(path, error)) << error;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 300; ++i) {
        LogText(t % 2 ? LogLevel::kError : LogLevel::kInfo,
                "thread " + std::to_string(t) + " line " + std::to_string(i) + "\n");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  LogText(LogLevel::kInfo, "in ");
  LogText(LogLevel::kInfo, "pieces\n\a\n");
  CloseLogFile(10000);

  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 8u * 300 + 1);
  const std::regex form(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3} (INFO  thread [0246]|ERROR thread [1357]) line \d+)");
  std::set<std::string> seen;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_TRUE(std::regex_match(lines[i], form)) << lines[i];
    seen.insert(lines[i].substr(30));
  }
  EXPECT_EQ(seen.size(), 8u * 300);
  EXPECT_EQ(lines.back().substr(23), " INFO  in pieces");
}

// A log moved away while it is open, as a rotation does (on Windows too),
// is followed by a new one at its path once the program is told to open it
// anew.
TEST(LogFileTest, AMovedLogIsFollowedByANewOneAfterReopen) {
  TempDir dir;
  const std::string path = dir.Sub("sentrel.log");
  std::string error;
  ASSERT_TRUE(OpenLogFile(path, error)) << error;
  LogText(LogLevel::kInfo, "before\n");
  ASSERT_TRUE(WaitUntil([&] { return Lines(path).size() == 1; }));
  std::error_code moved;
  std::filesystem::rename(path, dir.Sub("sentrel.log.1"), moved);
  if (moved) CloseLogFile(10000);
  ASSERT_FALSE(moved) << moved.message();
  ReopenLogFile();
  LogText(LogLevel::kError, "after\n");
  CloseLogFile(10000);
  ASSERT_EQ(Lines(path).size(), 1u);
  EXPECT_NE(Lines(path)[0].find("ERROR after"), std::string::npos);
  ASSERT_EQ(Lines(dir.Sub("sentrel.log.1")).size(), 1u);
  EXPECT_FALSE(OpenLogFile(dir.Sub("no such folder/x.log"), error));
  EXPECT_NE(error.find("no such folder"), std::string::npos);
}

}  // namespace
}  // namespace sentrel

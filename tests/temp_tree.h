#ifndef SENTREL_TESTS_TEMP_TREE_H_
#define SENTREL_TESTS_TEMP_TREE_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include "wait_until.h"

namespace sentrel {

// A real directory under the system's temporary folder, removed with its
// content when the object goes.
class TempTree {
 public:
  TempTree() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("sentrel-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
  }
  ~TempTree() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The root with a trailing "/", as a directory item holds it.
  std::string Root() const { return root_.string() + "/"; }
  std::filesystem::path Path(const std::string& rel) const { return root_ / rel; }

  // Writes `content` to `rel`, creating parent directories.
  std::filesystem::path Write(const std::string& rel, const std::string& content = "x") {
    const auto p = Path(rel);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  void Mkdir(const std::string& rel) { std::filesystem::create_directories(Path(rel)); }
  // Moves the last-write time of `rel` by `delta`.
  void Touch(const std::string& rel, std::chrono::seconds delta) {
    const auto p = Path(rel);
    std::filesystem::last_write_time(p, std::filesystem::last_write_time(p) + delta);
  }

 private:
  std::filesystem::path root_;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_TEMP_TREE_H_

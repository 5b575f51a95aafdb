#ifndef SENTREL_TESTS_TEMP_DIR_H_
#define SENTREL_TESTS_TEMP_DIR_H_

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "platform/paths.h"

namespace sentrel {

// A fresh directory under `base` (the system's temporary folder by default),
// removed with everything in it when the object goes.
class TempDir {
 public:
  explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
    static std::atomic<unsigned> counter{0};
    std::random_device rd;
    for (int tries = 0; tries < 100; ++tries) {
      std::filesystem::path candidate =
          base / ("sentrel-test-" + std::to_string(rd()) + "-" + std::to_string(counter++));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) {
        path_ = candidate;
        break;
      }
      if (ec) break;  // `base` is missing or not writable: ok() says so
    }
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Make everything removable again, in case a test took permissions away.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      if (it->is_symlink(ec)) continue;
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False only when the folder could not be made (an absent `base`).
  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
  // The folder with a trailing separator, as a directory item holds its root.
  std::string Root() const { return path_.string() + kPathSeparator; }
  // The full path of `rel` ("/" between its pieces) inside, as text (with
  // this platform's separators, as the program writes paths) and as a path.
  std::string Sub(const std::string& rel) const {
    return NativeSeparators((path_ / rel).string());
  }
  std::filesystem::path Path(const std::string& rel) const { return path_ / rel; }

  // Writes `content` to `rel` (creating parent folders) and returns the path.
  std::string Write(const std::string& rel, const std::string& content = "x") const {
    std::filesystem::path p = path_ / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return Sub(rel);
  }
  std::string MakeDir(const std::string& rel) const {
    std::filesystem::create_directories(path_ / rel);
    return Sub(rel);
  }
  // Moves the last-write time of `rel` by `delta`.
  void Touch(const std::string& rel, std::chrono::seconds delta) const {
    const auto p = path_ / rel;
    std::filesystem::last_write_time(p, std::filesystem::last_write_time(p) + delta);
  }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// True for anything at `path`, a dangling symbolic link included.
inline bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_TEMP_DIR_H_

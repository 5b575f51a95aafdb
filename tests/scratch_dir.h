#ifndef SENTREL_TESTS_SCRATCH_DIR_H_
#define SENTREL_TESTS_SCRATCH_DIR_H_

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace sentrel::testing {

// A fresh directory under `base` that is removed with everything in it when
// the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& base = "/tmp") {
    std::string pattern = base + "/sentrel-test-XXXXXX";
    char* made = ::mkdtemp(pattern.data());
    if (made != nullptr) root_ = made;
  }
  ~ScratchDir() {
    std::error_code ec;
    if (!root_.empty()) std::filesystem::remove_all(root_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  bool ok() const { return !root_.empty(); }
  const std::string& root() const { return root_; }
  std::string Path(const std::string& rel) const { return root_ + "/" + rel; }

  // Writes `content` to `rel`, creating its directories.
  std::string Write(const std::string& rel, const std::string& content) const {
    std::string p = Path(rel);
    std::filesystem::create_directories(std::filesystem::path(p).parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  std::string MakeDir(const std::string& rel) const {
    std::filesystem::create_directories(Path(rel));
    return Path(rel);
  }

 private:
  std::string root_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The device a path lies on, to tell whether two folders share a file system.
inline dev_t DeviceOf(const std::string& path) {
  struct stat st{};
  ::stat(path.c_str(), &st);
  return st.st_dev;
}

}  // namespace sentrel::testing

#endif  // SENTREL_TESTS_SCRATCH_DIR_H_

#ifndef SENTREL_TESTS_FILE_HOLDER_H_
#define SENTREL_TESTS_FILE_HOLDER_H_

#include <memory>
#include <string>

namespace sentrel {

// A second process that holds a file open until Release() or destruction
// (the helper tests/helpers/hold_open). Started() tells whether it came up
// and has the file open.
class FileHolder {
 public:
  explicit FileHolder(const std::string& path, bool write = false);
  ~FileHolder();
  FileHolder(const FileHolder&) = delete;
  FileHolder& operator=(const FileHolder&) = delete;

  bool Started() const { return started_; }

  // Ends the holder and waits for it: afterwards the file is no longer open.
  void Release();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
  bool started_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_FILE_HOLDER_H_

#ifndef SENTREL_TESTS_RECORDING_DIR_ITEM_H_
#define SENTREL_TESTS_RECORDING_DIR_ITEM_H_

#include <mutex>
#include <set>
#include <string>

#include "monitor/chkdir.h"

namespace sentrel {

// A directory item that remembers what its checks reported, as
// "relative/name:state", for items whose loop runs on their own thread.
class RecordingDirItem final : public CheckDirThread {
 public:
  using CheckDirThread::CheckDirThread;
  uint8_t Check() override {
    const uint8_t r = CheckDirThread::Check();
    std::lock_guard<std::mutex> lock(mu_);
    for (const FileData& f : ReportedFiles) {
      reported_.insert(f.Name.substr(FileName().Value().size()) + ":" + std::to_string(f.State));
    }
    ++checks_;
    return r;
  }
  // Checks done so far; the first is the baseline, which reports nothing.
  int Checks() {
    std::lock_guard<std::mutex> lock(mu_);
    return checks_;
  }
  bool Reported(const std::string& what) {
    std::lock_guard<std::mutex> lock(mu_);
    return reported_.count(what) != 0;
  }

 private:
  std::mutex mu_;
  std::set<std::string> reported_;
  int checks_ = 0;
};

}  // namespace sentrel

#endif  // SENTREL_TESTS_RECORDING_DIR_ITEM_H_

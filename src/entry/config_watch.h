#ifndef SENTREL_ENTRY_CONFIG_WATCH_H_
#define SENTREL_ENTRY_CONFIG_WATCH_H_

#include <functional>
#include <string>

#include "platform/dir_watch.h"

namespace sentrel {

// Tells when the configuration file has been saved: its writer closed it, a
// finished file took its name (the way many editors save), or its writing
// paused for a moment. The file's folder is watched through the shared
// watch service, so this costs no thread of its own.
class ConfigWatch final : private TreeWatchClient {
 public:
  // `saved` is called on the watch service's thread; it must be quick.
  ConfigWatch(const std::string& path, std::function<void()> saved);
  ~ConfigWatch() override;
  ConfigWatch(const ConfigWatch&) = delete;
  ConfigWatch& operator=(const ConfigWatch&) = delete;

  // False when the folder cannot be watched.
  bool Open();
  // Once it returns, `saved` is never called again.
  void Stop();

  // A save that is complete is taken after this much quiet, so that the
  // steps of one save make one reload; one still being written after this.
  static constexpr int kGatherMs = 100;
  static constexpr int kSettleMs = 500;

 private:
  void OnTreeChange(const TreeChange& change) override;
  void OnTreeTimer() override;

  DirWatchService& service_;
  std::string folder_, name_;
  const std::function<void()> saved_;
  // Guarded by the service's mutex, like every callback.
  bool open_ = false;
  bool pending_ = false;
};

}  // namespace sentrel

#endif  // SENTREL_ENTRY_CONFIG_WATCH_H_

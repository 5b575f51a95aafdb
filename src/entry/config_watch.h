#ifndef SENTREL_ENTRY_CONFIG_WATCH_H_
#define SENTREL_ENTRY_CONFIG_WATCH_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dir_watch.h"

namespace sentrel {

// Tells when the configuration file has been saved: its writer closed it, a
// finished file took its name (the way many editors save), or its writing
// paused for a moment. The file's folder is watched through the shared
// watch service, so this costs no thread of its own. Where the path leads
// through symbolic links (as configuration management lays files out), the
// file they lead to is watched, and so is each link: a link switched to
// another file or folder is a save too, and the watch follows it.
class ConfigWatch final : private TreeWatchClient {
 public:
  // `saved` is called on the watch service's thread; it must be quick.
  ConfigWatch(const std::string& path, std::function<void()> saved);
  ~ConfigWatch() override;
  ConfigWatch(const ConfigWatch&) = delete;
  ConfigWatch& operator=(const ConfigWatch&) = delete;

  // False when the folder of the file cannot be watched.
  bool Open();
  // Once it returns, `saved` is never called again.
  void Stop();

  // A save that is complete is taken after this much quiet, so that the
  // steps of one save make one reload; one still being written after this.
  static constexpr int kGatherMs = 100;
  static constexpr int kSettleMs = 500;

  // One name watched in its folder: a link on the way, or the file itself.
  struct Place {
    std::string folder, name;
    bool link = false;
    bool operator==(const Place&) const = default;
  };

 private:
  class Spot;
  void OnTreeChange(const TreeChange& change) override;
  void OnTreeTimer() override;
  void OnSpotChange(const Place& place, const TreeChange& change);
  // Watches the places the path leads through now; false when the file's
  // folder cannot be watched.
  bool Follow();

  DirWatchService& service_;
  std::string path_;
  const std::function<void()> saved_;
  // Guarded by the service's mutex, like every callback.
  bool open_ = false;
  bool pending_ = false;
  std::vector<Place> places_;
  std::vector<std::unique_ptr<Spot>> spots_;
};

}  // namespace sentrel

#endif  // SENTREL_ENTRY_CONFIG_WATCH_H_

#ifndef SENTREL_ENTRY_RELOADER_H_
#define SENTREL_ENTRY_RELOADER_H_

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "loader/monitor_process.h"
#include "entry/config_watch.h"
#include "shell/message_sink.h"

namespace sentrel {

// Reads the configuration again on request (a save of the file, SIGHUP) on
// a thread of its own, one reload at a time, and says what came of it: one
// line on `out`, or the errors on `errors` while the running configuration
// stays.
class Reloader {
 public:
  Reloader(MonitorProcess& monitors, std::string config, MessageSink& out, MessageSink& errors);
  ~Reloader();
  Reloader(const Reloader&) = delete;
  Reloader& operator=(const Reloader&) = delete;

  // Watches the file for saves; false when its folder cannot be watched.
  bool WatchFile();
  // Asks for a reload; requests that come while one runs make one more.
  void Request();
  // Ends the watch and the thread, after a reload that is under way. The
  // items are the caller's again.
  void Stop();

  // How long a reload waits for the items it takes out before it starts
  // their successors.
  static constexpr int kRetireWaitMs = 1000;
  static constexpr size_t kRemarksShown = 10;

 private:
  void Run();
  void ReloadNow();

  MonitorProcess& monitors_;
  const std::string config_;
  MessageSink& out_;
  MessageSink& errors_;
  std::unique_ptr<ConfigWatch> watch_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool requested_ = false;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace sentrel

#endif  // SENTREL_ENTRY_RELOADER_H_

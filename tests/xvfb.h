#ifndef SENTREL_TESTS_XVFB_H_
#define SENTREL_TESTS_XVFB_H_

#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"
#include "wait_until.h"

namespace sentrel::testing {

// Joins a thread that runs an action which waits for a dialog, however the
// test ends: the item's stop request ends the wait first.
class StopAndJoin {
 public:
  StopAndJoin(std::atomic<bool>& stop, std::thread& thread) : stop_(stop), thread_(thread) {}
  ~StopAndJoin() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  StopAndJoin(const StopAndJoin&) = delete;
  StopAndJoin& operator=(const StopAndJoin&) = delete;

 private:
  std::atomic<bool>& stop_;
  std::thread& thread_;
};

inline std::string HelperPath(const std::string& name) {
  return std::string(SENTREL_TEST_HELPER_DIR) + "/" + name;
}

// A private X server on a free display number, for the length of a test.
// It is ended when the object goes, and by the guard helper even when the
// test process dies first.
class Xvfb {
 public:
  Xvfb() {
    // Each server of a test process takes a new number, so a server that is
    // still going away never meets its successor.
    static int started = 0;
    for (int attempt = 0; attempt < 20 && display_.empty(); ++attempt) {
      int n = 100 + static_cast<int>((getpid() * 7 + (started++) * 13) % 800);
      std::string name = ":" + std::to_string(n);
      if (access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
      // -noreset: the server must not start over whenever its last client
      // goes, or a program connecting at that moment is turned away.
      ProcessOptions options;
      options.null_streams = true;
      server_ = StartProcess({HelperPath("orphan_guard"), "Xvfb", name, "-nolisten", "tcp",
                              "-noreset", "-screen", "0", "800x600x24"},
                             options);
      if (!server_.valid()) return;
      bool up = WaitUntil([&] {
        if (server_.HasExited()) return true;
        Display* d = XOpenDisplay(name.c_str());
        if (d == nullptr) return false;
        XCloseDisplay(d);
        return true;
      });
      if (up && server_.valid() && !server_.HasExited()) {
        display_ = name;
      } else {
        Stop();
      }
    }
  }
  ~Xvfb() { Stop(); }
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool ok() const { return !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  void Stop() {
    if (!server_.valid()) return;
    server_.Terminate();
    if (server_.Wait(nullptr, 5000) != SpawnedProcess::WaitResult::kExited) {
      server_.Terminate(true);
      server_.Wait(nullptr, 5000);
    }
  }

  SpawnedProcess server_;
  std::string display_;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace sentrel::testing

#endif  // SENTREL_TESTS_XVFB_H_

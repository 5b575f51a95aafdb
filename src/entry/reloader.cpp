#include "entry/reloader.h"

#include <system_error>

#include "entry/check_mode.h"
#include "shell/log_file.h"
#include "shell/system_events.h"

namespace sentrel {
namespace {

std::string Count(int n, const char* what) {
  return std::to_string(n) + (n == 1 ? " item " : " items ") + what;
}

}  // namespace

Reloader::Reloader(MonitorProcess& monitors, std::string config, MessageSink& out,
                   MessageSink& errors)
    : monitors_(monitors), config_(std::move(config)), out_(out), errors_(errors) {
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    // No thread: requests are not answered, and monitoring goes on.
  }
}

Reloader::~Reloader() { Stop(); }

bool Reloader::WatchFile() {
  watch_ = std::make_unique<ConfigWatch>(config_, [this] { Request(); });
  return watch_->Open();
}

void Reloader::Request() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    requested_ = true;
  }
  cv_.notify_all();
}

void Reloader::Stop() {
  if (watch_) watch_->Stop();
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Reloader::Run() {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    cv_.wait(lock, [this] { return requested_ || stopping_; });
    if (stopping_) return;
    requested_ = false;
    lock.unlock();
    ReloadNow();
    lock.lock();
  }
}

void Reloader::ReloadNow() {
  // A reload is also what logrotate asks for after it moved the log away.
  ReopenLogFile();
  Diagnostics notes;
  const MonitorProcess::Reloaded r = monitors_.Reload(config_, notes, kRetireWaitMs);
  WriteRemarks(config_, notes, errors_, kRemarksShown);
  if (!r.done) {
    errors_.Write(config_ + ": not reloaded; the running configuration stays\n");
    return;
  }
  const std::string news = "Configuration reloaded: " + Count(r.kept, "kept") + ", " +
                           std::to_string(r.started) + " started, " +
                           std::to_string(r.stopped) + " stopped";
  out_.Write(news + "\n");
  SystemEvent(EventKind::kInformation, config_ + ": " + news);
}

}  // namespace sentrel

// A configuration read again while its items run.
#include <chrono>
#include <map>
#include <thread>

#include "loader/monitor_process.h"

namespace sentrel {
namespace {

bool HasError(const Diagnostics& notes) {
  for (const Diagnostic& d : notes.Sorted()) {
    if (d.severity == Diagnostic::Severity::kError) return true;
  }
  return false;
}

}  // namespace

MonitorProcess::Reloaded MonitorProcess::Reload(const std::string& path, Diagnostics& notes,
                                                int wait_ms) {
  Reloaded result;
  MonitorProcess fresh(services_);
  fresh.set_autostart(false);
  fresh.set_quiet(true);
  // Under --strict any remark keeps the running configuration, as it would
  // have kept the first one from starting.
  if (!fresh.Load(path, &notes) || HasError(notes) || (strict_ && !notes.empty())) return result;
  result.done = true;

  // Blocks that read the same as before keep their running item, in order
  // where a block stands more than once.
  std::multimap<std::string, size_t> running;
  for (size_t i = 0; i < keys_.size(); ++i) running.emplace(keys_[i], i);
  std::vector<bool> kept(monitors_.size(), false);
  std::vector<std::shared_ptr<BaseMonitoring>> items, to_start;
  for (size_t j = 0; j < fresh.monitors_.size(); ++j) {
    auto it = running.find(fresh.keys_[j]);
    if (it != running.end()) {
      kept[it->second] = true;
      monitors_[it->second]->MoveOrigin(fresh.monitors_[j]->OriginLine());
      items.push_back(monitors_[it->second]);
      running.erase(it);
      ++result.kept;
    } else {
      items.push_back(fresh.monitors_[j]);
      to_start.push_back(fresh.monitors_[j]);
    }
  }

  std::vector<std::weak_ptr<BaseMonitoring>> leaving;
  for (size_t i = monitors_.size(); i-- > 0;) {
    if (kept[i]) continue;
    // A paused item never ran: there is nothing to stop.
    if (monitors_[i]->Status() != kStatusPaused) ++result.stopped;
    monitors_[i]->RequestFinish();
    leaving.push_back(monitors_[i]);
  }
  {
    std::lock_guard<std::mutex> lock(monitors_mu_);
    monitors_ = std::move(items);
  }
  keys_ = std::move(fresh.keys_);
  fresh.monitors_.clear();

  // The thread of an item holds it until its loop has ended and its state
  // is saved.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (const auto& weak : leaving) {
    while (!weak.expired() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!weak.expired()) retired_.push_back(weak);
  }
  // Forget those that have ended since earlier reloads.
  std::erase_if(retired_, [](const std::weak_ptr<BaseMonitoring>& w) { return w.expired(); });

  for (const auto& item : to_start) {
    if (item->Status() == kStatusPaused) continue;
    BaseMonitoring::Start(item, tracker_);
    ++result.started;
  }
  return result;
}

}  // namespace sentrel

// A configuration read again while its items run.
#include <chrono>
#include <map>
#include <system_error>
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
  fresh.set_whole_only(true);
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

  std::vector<std::shared_ptr<BaseMonitoring>> leaving;
  // By the state each keeps: an item whose block changed is the same item
  // as far as its state goes, and its new self must neither run beside the
  // old one nor read the state before the old one has saved it.
  std::multimap<std::string, std::shared_ptr<BaseMonitoring>> leaving_by_state;
  for (size_t i = monitors_.size(); i-- > 0;) {
    if (kept[i]) continue;
    // A paused item never ran: there is nothing to stop, nor to wait for.
    if (monitors_[i]->Status() != kStatusPaused) {
      ++result.stopped;
      leaving_by_state.emplace(monitors_[i]->StatePath(), monitors_[i]);
    }
    monitors_[i]->RequestFinish();
    leaving.push_back(monitors_[i]);
  }
  {
    std::lock_guard<std::mutex> lock(monitors_mu_);
    monitors_ = std::move(items);
  }
  keys_ = std::move(fresh.keys_);
  fresh.monitors_.clear();

  // Others than the item's thread may hold it (the first checks' line):
  // what counts is that its loop has ended and its state is saved.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (const auto& item : leaving) {
    if (item->Status() == kStatusPaused) continue;
    while (!item->Ended() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!item->Ended()) retired_.push_back(item);
  }
  // Forget those that have ended since earlier reloads.
  std::erase_if(retired_, [](const std::weak_ptr<BaseMonitoring>& w) {
    const auto item = w.lock();
    return !item || item->Ended();
  });

  for (const auto& item : to_start) {
    if (item->Status() == kStatusPaused) continue;
    std::vector<std::shared_ptr<BaseMonitoring>> before;
    const auto [from, to] = leaving_by_state.equal_range(item->StatePath());
    for (auto it = from; it != to; ++it) {
      if (!it->second->Ended()) before.push_back(it->second);
    }
    if (before.empty()) {
      BaseMonitoring::Start(item, tracker_);
    } else {
      StartAfter(item, std::move(before));
    }
    ++result.started;
  }
  return result;
}

void MonitorProcess::StartAfter(std::shared_ptr<BaseMonitoring> item,
                                std::vector<std::shared_ptr<BaseMonitoring>> before) {
  // An action of the old self may run for long (a build with Wait=1): the
  // reload does not wait for it, a thread of the item's own does. It counts
  // as the item's thread, so that whoever waits for the items waits for it.
  tracker_->Started();
  try {
    std::thread([item = std::move(item), before = std::move(before),
                 tracker = tracker_]() mutable {
      for (const auto& old : before) {
        // A stop of the whole program ends the wait; the item's loop then
        // ends at once, and a successor of its own is not kept waiting.
        while (!old->Ended() && !item->Terminated()) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      }
      before.clear();
      BaseMonitoring::Start(std::move(item), tracker);
      tracker->Finished();
    }).detach();
  } catch (const std::system_error&) {
    tracker_->Finished();
  }
}

}  // namespace sentrel

#include "entry/first_checks.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <thread>

namespace sentrel {
namespace {

// Walks that end within this need no progress line.
constexpr int kQuietMs = 1500;
constexpr int kPollMs = 100;
constexpr int kProgressEveryMs = 500;

std::string Grouped(uint64_t n) {
  std::string digits = std::to_string(n), out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string Counted(uint64_t n, const char* one, const char* many) {
  return Grouped(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string FirstChecksLine(const std::vector<std::weak_ptr<BaseMonitoring>>& items,
                            double seconds) {
  uint64_t folders = 0, running = 0, directories = 0;
  // An item waiting for its window is watching nothing yet: it is named,
  // with when it starts.
  std::string waiting;
  for (const auto& weak : items) {
    const std::shared_ptr<BaseMonitoring> item = weak.lock();
    if (!item || item->Status() == kStatusPaused) continue;
    if (!item->progress().first_check_done.load(std::memory_order_acquire)) {
      if (item->Status() != kStatusOutsideWindow) return std::string();
      waiting += "; \"" + item->FileName().Value() + "\" waits for its window, which " +
                 item->WindowOpening();
      continue;
    }
    ++running;
    if (item->IsDirectory().Value() == 1) {
      ++directories;
      folders += item->progress().folders.load(std::memory_order_relaxed);
    }
  }
  char took[48];
  std::snprintf(took, sizeof took, seconds < 10 ? "%.1f s" : "%.0f s", seconds);
  std::string line = "Watching ";
  if (directories > 0) line += Counted(folders, "folder", "folders") + " in ";
  return line + Counted(running, "item", "items") + waiting + " (first checks took " + took +
         ").\n";
}

std::string WalkProgressLine(const std::vector<std::weak_ptr<BaseMonitoring>>& items) {
  uint64_t folders = 0, files = 0;
  for (const auto& weak : items) {
    if (const std::shared_ptr<BaseMonitoring> item = weak.lock()) {
      folders += item->progress().folders.load(std::memory_order_relaxed);
      files += item->progress().files.load(std::memory_order_relaxed);
    }
  }
  return "Walking: " + Counted(folders, "folder", "folders") + ", " +
         Counted(files, "file", "files") + " so far";
}

void ReportFirstChecks(std::vector<std::weak_ptr<BaseMonitoring>> items, MessageSink& out,
                       bool progress, std::chrono::steady_clock::time_point start) {
  try {
    std::thread([items = std::move(items), &out, progress, start] {
      size_t shown = 0;  // width of the progress line on the screen
      auto next_progress = start + std::chrono::milliseconds(kQuietMs);
      for (;;) {
        // An item gone is the program stopping: there is no news to tell.
        for (const auto& item : items) {
          if (item.expired()) return;
        }
        const auto now = std::chrono::steady_clock::now();
        const std::string line =
            FirstChecksLine(items, std::chrono::duration<double>(now - start).count());
        if (!line.empty()) {
          // The progress line is overwritten, not left above the news.
          out.Write((shown > 0 ? "\r" + std::string(shown, ' ') + "\r" : std::string()) + line);
          return;
        }
        if (progress && now >= next_progress) {
          const std::string text = WalkProgressLine(items);
          const size_t pad = shown > text.size() ? shown - text.size() : 0;
          out.Write("\r" + text + std::string(pad, ' '));
          shown = text.size() + pad;
          next_progress = now + std::chrono::milliseconds(kProgressEveryMs);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
      }
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread the line is not said; monitoring is the same.
  }
}

}  // namespace sentrel

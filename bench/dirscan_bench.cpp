// Measures the directory item on generated trees, side by side with `find`
// doing the same listing and stat work:
//   - one full check with no change (100 000 and 1 000 000 entries);
//   - the same check after the previous snapshot was built in another order;
//   - resident memory added per snapshot entry;
//   - real-time latency from a file's creation to the start of the check,
//     and how many reporting checks a burst of 1000 new files leads to.
// Trees are generated once under $SENTREL_BENCH_DIR (default /tmp/sentrel-
// bench) and reused by later runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "monitor/chkdir.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string BenchDir() {
  const char* dir = std::getenv("SENTREL_BENCH_DIR");
  return dir != nullptr && *dir != '\0' ? dir : "/tmp/sentrel-bench";
}

// About `entries` entries: 10 top directories, each with directories of
// 1000 files.
std::string Tree(int entries) {
  const std::string root = BenchDir() + "/tree-" + std::to_string(entries);
  const std::string done = root + ".complete";
  if (fs::exists(done)) return root;
  fs::remove_all(root);
  const int dirs = std::max(1, entries / 1000);
  for (int d = 0; d < dirs; ++d) {
    const fs::path dir = fs::path(root) / ("top" + std::to_string(d % 10)) /
                         ("dir" + std::to_string(d / 10));
    fs::create_directories(dir);
    for (int f = 0; f < 1000 - 1; ++f) {
      std::ofstream(dir / ("file-" + std::to_string(f) + ".dat")) << f;
    }
  }
  std::ofstream(done) << "ok\n";
  return root;
}

int64_t ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  int64_t size = 0, resident = 0;
  statm >> size >> resident;
  return resident * 4096;
}

// The highest resident size so far, from the kernel's own record.
int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      int64_t kb = 0;
      status >> kb;
      return kb * 1024;
    }
  }
  return 0;
}

Services& BenchServices() {
  static Services* services = new Services();
  return *services;
}

std::shared_ptr<CheckDirThread> DirItem(const std::string& root,
                                        std::vector<std::string> extra = {}) {
  auto item = std::make_shared<CheckDirThread>(false, BenchServices());
  std::vector<std::string> lines = {"FileName=" + root + "\n", "Subdir=1\n"};
  for (auto& l : extra) lines.push_back(l + "\n");
  item->ParseBlock(lines);
  return item;
}

double RunFind(const std::string& root) {
  const std::string cmd = "find '" + root + "' -printf '%T@ %s %p\\n' > /dev/null";
  const auto t0 = Clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// `find`, a check with no change, and the same check after the previous
// snapshot was put in another order, taken in turns on the same warm tree so
// that all three meet the same caches and the same load; the best of five
// rounds of each is reported (the machine is shared, and interruptions only
// ever add time).
void BM_CheckVsFind(benchmark::State& state) {
  const std::string root = Tree(static_cast<int>(state.range(0)));
  auto item = DirItem(root);
  RunFind(root);   // warm the caches
  item->Check();   // the baseline
  double find_best = 1e9, check_best = 1e9, shuffled_best = 1e9;
  uint64_t seed = 1;
  for (auto _ : state) {
    for (int round = 0; round < 5; ++round) {
      find_best = std::min(find_best, RunFind(root));

      auto t0 = Clock::now();
      benchmark::DoNotOptimize(item->Check());
      check_best = std::min(check_best, Seconds(t0));

      item->SnapshotForTesting().Shuffle(seed++);
      t0 = Clock::now();
      benchmark::DoNotOptimize(item->Check());
      shuffled_best = std::min(shuffled_best, Seconds(t0));
    }
  }
  state.counters["entries"] = static_cast<double>(item->SnapshotSize());
  state.counters["find_ms"] = find_best * 1000;
  state.counters["check_ms"] = check_best * 1000;
  state.counters["shuffled_ms"] = shuffled_best * 1000;
  state.counters["check_vs_find"] = check_best / find_best;
  state.counters["shuffled_vs_stable"] = shuffled_best / check_best;
}

void BM_SnapshotMemory(benchmark::State& state) {
  const std::string root = Tree(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto item = DirItem(root);
    const int64_t before = ResidentBytes();
    item->Check();
    const int64_t after_first = ResidentBytes();
    item->SnapshotForTesting().Shuffle(3);  // makes the lookup build its index
    item->Check();
    const int64_t after_second = ResidentBytes();
    const double n = static_cast<double>(item->SnapshotSize());
    state.counters["entries"] = n;
    state.counters["bytes_per_entry"] = static_cast<double>(after_first - before) / n;
    state.counters["bytes_per_entry_after_2nd"] = static_cast<double>(after_second - before) / n;
    // Run alone, the peak is this benchmark's: two snapshots and the
    // lookup index while the second check runs.
    state.counters["peak_bytes_per_entry"] = static_cast<double>(PeakResidentBytes() - before) / n;
  }
}

// Records when each check starts and whether it reported.
class TimedDir final : public CheckDirThread {
 public:
  using CheckDirThread::CheckDirThread;
  uint8_t Check() override {
    const auto start = Clock::now();
    const uint8_t r = CheckDirThread::Check();
    std::lock_guard<std::mutex> lock(mu);
    checks.push_back({start, r});
    return r;
  }
  struct Record {
    Clock::time_point start;
    uint8_t result;
  };
  std::mutex mu;
  std::vector<Record> checks;

  // The first check that started at or after `t`, waiting up to 10 s.
  bool FirstCheckAfter(Clock::time_point t, Clock::time_point& out) {
    for (int i = 0; i < 10000; ++i) {
      {
        std::lock_guard<std::mutex> lock(mu);
        for (const auto& c : checks) {
          if (c.start >= t) {
            out = c.start;
            return true;
          }
        }
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
  }
  int ReportingChecksSince(Clock::time_point t) {
    std::lock_guard<std::mutex> lock(mu);
    return static_cast<int>(std::count_if(checks.begin(), checks.end(), [&](const Record& c) {
      return c.start >= t && c.result == 1;
    }));
  }
};

void BM_RealTimeLatency(benchmark::State& state) {
  const std::string root = BenchDir() + "/realtime";
  fs::remove_all(root);
  fs::create_directories(root);
  for (int f = 0; f < 1000; ++f) std::ofstream(root + "/file-" + std::to_string(f)) << f;

  auto item = std::make_shared<TimedDir>(false, BenchServices());
  item->ParseBlock({"FileName=" + root + "\n", "Interval=60\n", "RealTime=1\n"});
  auto tracker = std::make_shared<ThreadTracker>();
  BaseMonitoring::Start(item, tracker);
  Clock::time_point first;
  item->FirstCheckAfter(Clock::time_point(), first);  // the baseline

  std::vector<double> ms;
  int burst_checks = 0;
  for (auto _ : state) {
    ms.clear();
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      const auto t0 = Clock::now();
      std::ofstream(root + "/new-" + std::to_string(i)) << i;
      Clock::time_point start;
      if (!item->FirstCheckAfter(t0, start)) continue;
      ms.push_back(std::chrono::duration<double, std::milli>(start - t0).count());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto b0 = Clock::now();
    for (int f = 0; f < 1000; ++f) {
      if (std::FILE* out = std::fopen((root + "/burst-" + std::to_string(f)).c_str(), "w")) {
        std::fclose(out);
      }
    }
    const double burst_ms = std::chrono::duration<double, std::milli>(Clock::now() - b0).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    burst_checks = item->ReportingChecksSince(b0);
    state.counters["burst_create_ms"] = burst_ms;
  }
  std::sort(ms.begin(), ms.end());
  if (!ms.empty()) {
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
  }
  state.counters["events"] = static_cast<double>(ms.size());
  state.counters["burst_reporting_checks"] = burst_checks;
  item->RequestTerminate();
  item.reset();
  tracker->WaitIdle(5000);
}

BENCHMARK(BM_CheckVsFind)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapshotMemory)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RealTimeLatency)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();

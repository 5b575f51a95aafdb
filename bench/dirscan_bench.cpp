// Measures the directory item's check in process on generated trees, side
// by side with `find` doing the same listing and stat work: one whole check
// with no change (100 000 and 1 000 000 entries), and the same check after
// the previous snapshot was put in another order in every folder. What
// users see (the real binary: real-time latency, CPU per save, memory, idle
// cost, start-up) is measured from outside by bench/endtoend.py. Trees are
// generated once under $SENTREL_BENCH_DIR (default /tmp/sentrel-bench) and
// reused by later runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

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

BENCHMARK(BM_CheckVsFind)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();

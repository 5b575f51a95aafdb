// The list action over a large report: every reported file goes through the
// macro expansion and one line of the list file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "actions/list_action.h"
#include "actions/macros.h"
#include "platform/clock.h"

namespace sentrel {
namespace {

constexpr char kListParams[] = "%Time=\"yyyy-mm-dd hh:nn:ss\" %Size %File";

FileList MakeReport(int n) {
  FileList files;
  files.reserve(static_cast<size_t>(n));
  const double base = DateTimeValue(2026, 12, 7, 8, 0, 0, 0);
  for (int i = 0; i < n; ++i) {
    files.emplace_back("/srv/data/projects/module_" + std::to_string(i % 97) + "/reports/file_" +
                           std::to_string(i) + ".dat",
                       base + i / 86400.0, 1000 + i * 37, kStateAdded);
  }
  return files;
}

void BM_ListActionRun(benchmark::State& state) {
  const FileList files = MakeReport(static_cast<int>(state.range(0)));
  const std::string list = "/tmp/sentrel-bench-list-" + std::to_string(getpid()) + ".txt";
  ListAction action;
  OfferLine(action.Params(), "ListName=" + list + "\n");
  OfferLine(action.Params(), std::string("ListParams=") + kListParams + "\n");
  Services services;
  std::atomic<bool> stop{false};
  Wakeup stop_wakeup;
  RunContext ctx(services, stop, stop_wakeup);
  for (auto _ : state) action.Run(files, ctx);
  std::remove(list.c_str());
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ListActionRun)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ExpandForFile(benchmark::State& state) {
  const FileList files = MakeReport(1000);
  Services services;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ExpandForFile(files[i], kListParams, services));
    i = (i + 1) % files.size();
  }
}
BENCHMARK(BM_ExpandForFile);

void BM_ExpandForBatchGroup(benchmark::State& state) {
  const FileList files = MakeReport(static_cast<int>(state.range(0)));
  Services services;
  for (auto _ : state) {
    MarkedText out;
    benchmark::DoNotOptimize(ExpandForBatch(files, out, "-o %(\"%File\" %)", 0, 0, services));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ExpandForBatchGroup)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();

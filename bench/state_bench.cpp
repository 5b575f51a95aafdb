// Measures the save and the load of a directory item's state in process: a
// snapshot of 1 000 000 entries (1000 folders of 1000 files, names such as
// "file-123.dat"), without and with the names and sizes that StorePrevInfo
// keeps. A save is the whole of it: the file written, flushed to the disk
// and renamed into place. What the real binary does at start and stop is
// measured from outside by `bench/endtoend.py state`. Files go to
// $SENTREL_BENCH_DIR (default /tmp/sentrel-bench)/state.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "monitor/snapshot.h"
#include "monitor/state_file.h"

namespace sentrel {
namespace {

std::string StatePath(bool records) {
  const char* dir = std::getenv("SENTREL_BENCH_DIR");
  const std::string folder = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp/sentrel-bench") + "/state";
  std::filesystem::create_directories(folder);
  return folder + (records ? "/names.state" : "/plain.state");
}

Snapshot MakeSnapshot(bool records, int folders, int files) {
  Snapshot s(records);
  PathHasher root(1);
  root.Update("/srv/tree/");
  const uint32_t top = s.AddFolder(kNoFolder, "", 1, 1);
  std::vector<uint32_t> children;
  std::vector<SnapshotRun> top_runs;
  for (int d = 0; d < folders; ++d) {
    top_runs.push_back(SnapshotRun{s.entry_slots(), s.names_end(), 0, 0});
    const std::string name = "dir" + std::to_string(d);
    const uint32_t f = s.AddFolder(top, name, 1, 2 + d);
    children.push_back(f);
    PathHasher dir = root;
    dir.Update(name + "/");
    SnapshotRun run{s.entry_slots(), s.names_end(), static_cast<uint32_t>(files), 0};
    for (int i = 0; i < files; ++i) {
      const std::string file = "file-" + std::to_string(i) + ".dat";
      PathHasher h = dir;
      h.Update(file);
      const PathId id = h.Finish();
      const SnapshotEntry e{id.crc, id.extra, 1700000000LL * 1000000000LL + i};
      if (records) {
        s.AppendEntry(e, 4096, file);
      } else {
        s.AppendEntry(e);
      }
    }
    s.SetRuns(f, {run}, static_cast<uint32_t>(files));
    s.LinkChildren(f, {});
  }
  top_runs.push_back(SnapshotRun{s.entry_slots(), s.names_end(), 0, 0});
  s.SetRuns(top, top_runs, 0);
  s.LinkChildren(top, children);
  s.SetLiveEntries(s.entry_slots());
  return s;
}

void Save(const Snapshot& s, const std::string& path) {
  StateWriter out;
  std::string error;
  if (!out.Open(path, 1, "FileName=/srv/tree/\n", error)) std::abort();
  out.PutValue<uint64_t>(1);
  s.Save(out);
  if (!out.Finish(error)) std::abort();
}

void BM_SaveState(benchmark::State& state) {
  const bool records = state.range(0) == 1;
  const Snapshot s = MakeSnapshot(records, 1000, 1000);
  const std::string path = StatePath(records);
  for (auto _ : state) Save(s, path);
  state.counters["entries"] = static_cast<double>(s.size());
  state.counters["MB"] = static_cast<double>(std::filesystem::file_size(path)) / 1e6;
}
BENCHMARK(BM_SaveState)->Arg(0)->Arg(1)->ArgName("names")->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadState(benchmark::State& state) {
  const bool records = state.range(0) == 1;
  const std::string path = StatePath(records);
  Save(MakeSnapshot(records, 1000, 1000), path);
  for (auto _ : state) {
    StateReader in;
    std::string settings, why;
    uint64_t seed = 0;
    Snapshot s;
    if (in.Open(path, 1, settings, why) != StateReader::Opened::kReady || !in.GetValue(seed) ||
        !s.Load(in) || !in.Finish(why)) {
      std::abort();
    }
    benchmark::DoNotOptimize(s.size());
  }
}
BENCHMARK(BM_LoadState)->Arg(0)->Arg(1)->ArgName("names")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace sentrel

BENCHMARK_MAIN();

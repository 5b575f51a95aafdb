// What the file operation action costs: a tree of small files copied and
// deleted, and a large file moved across file systems (copy, read back,
// compare, delete).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "actions/file_operation.h"

namespace {

using sentrel::FileOpRequest;
using sentrel::PerformFileOperation;

std::string MakeTemp(const std::string& base) {
  std::string pattern = base + "/sentrel-bench-XXXXXX";
  return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

void Write(const std::string& path, size_t bytes) {
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

void BM_CopyTreeOfSmallFiles(benchmark::State& state) {
  const std::string root = MakeTemp("/tmp");
  const int files = static_cast<int>(state.range(0));
  std::filesystem::create_directories(root + "/src");
  for (int i = 0; i < files; ++i) Write(root + "/src/f" + std::to_string(i), 4096);
  sentrel::FileOpEnvironment env;
  for (auto _ : state) {
    FileOpRequest r;
    r.op = sentrel::kFoCopy;
    r.sources = {root + "/src"};
    r.destinations = {root + "/dst"};
    PerformFileOperation(r, env);
    state.PauseTiming();
    std::filesystem::remove_all(root + "/dst");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * files);
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_CopyTreeOfSmallFiles)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_DeleteTreeOfSmallFiles(benchmark::State& state) {
  const std::string root = MakeTemp("/tmp");
  const int files = static_cast<int>(state.range(0));
  sentrel::FileOpEnvironment env;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < files; ++i) {
      const std::string dir = root + "/tree/d" + std::to_string(i % 20);
      std::filesystem::create_directories(dir);
      Write(dir + "/f" + std::to_string(i), 16);
    }
    state.ResumeTiming();
    FileOpRequest r;
    r.op = sentrel::kFoDelete;
    r.sources = {root + "/tree"};
    PerformFileOperation(r, env);
  }
  state.SetItemsProcessed(state.iterations() * files);
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_DeleteTreeOfSmallFiles)->Arg(2000)->Unit(benchmark::kMillisecond);

void BM_MoveAcrossFileSystems(benchmark::State& state) {
  const std::string here = MakeTemp("/tmp");
  const std::string there = MakeTemp("/dev/shm");
  const size_t bytes = static_cast<size_t>(state.range(0)) << 20;
  sentrel::FileOpEnvironment env;
  for (auto _ : state) {
    state.PauseTiming();
    Write(here + "/big", bytes);
    state.ResumeTiming();
    FileOpRequest r;
    r.op = sentrel::kFoMove;
    r.sources = {here + "/big"};
    r.destinations = {there + "/big"};
    PerformFileOperation(r, env);
    state.PauseTiming();
    std::filesystem::remove(there + "/big");
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  std::filesystem::remove_all(here);
  std::filesystem::remove_all(there);
}
BENCHMARK(BM_MoveAcrossFileSystems)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

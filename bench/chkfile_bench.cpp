// Cost of one single-file check and of the in-use test it may repeat every
// 100 ms while waiting for a file to be released.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "monitor/chkfile.h"
#include "platform/open_files.h"

namespace {

namespace fs = std::filesystem;

struct Scratch {
  Scratch() {
    std::string tmpl = (fs::temp_directory_path() / "sentrel-bench-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    dir = tmpl;
    for (int i = 0; i < 1000; ++i) std::ofstream(dir + "/entry-" + std::to_string(i) + ".dat") << i;
    std::ofstream(dir + "/watched.log") << "beat\n";
  }
  ~Scratch() { fs::remove_all(dir); }
  std::string dir;
};

Scratch& TheScratch() {
  static Scratch scratch;
  return scratch;
}

void BM_IsFileInUse(benchmark::State& state) {
  const std::string path = TheScratch().dir + "/watched.log";
  for (auto _ : state) benchmark::DoNotOptimize(sentrel::IsFileInUse(path));
}
BENCHMARK(BM_IsFileInUse)->Unit(benchmark::kMillisecond);

void BM_OpenFileTableRead(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(sentrel::OpenFileTable::Read().size());
}
BENCHMARK(BM_OpenFileTableRead)->Unit(benchmark::kMillisecond);

// name: exact, or a mask with one match among 1001 entries, wherever the
// directory order puts it.
void RunCheck(benchmark::State& state, const std::string& name, bool locking) {
  sentrel::Services services;
  sentrel::CheckFileThread item(false, services);
  std::vector<std::string> block = {"FileName=" + TheScratch().dir + "/" + name + "\n"};
  if (locking) block.push_back("CheckLocking=1\n");
  item.ParseBlock(block);
  for (auto _ : state) {
    benchmark::DoNotOptimize(item.Check());
    item.ReportedFiles.clear();
  }
}
void BM_CheckExactName(benchmark::State& state) { RunCheck(state, "watched.log", false); }
void BM_CheckMaskedName(benchmark::State& state) { RunCheck(state, "watch*.log", false); }
void BM_CheckWithLocking(benchmark::State& state) { RunCheck(state, "watched.log", true); }
BENCHMARK(BM_CheckExactName)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckMaskedName)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CheckWithLocking)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

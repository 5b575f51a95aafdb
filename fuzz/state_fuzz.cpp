// State files as a directory item reads them at start. The bytes are the
// item's data inside a well-formed header and checksum (so that the checks
// of the content itself are reached), or, when the first byte is odd, the
// whole file as it stands. Whatever loads must be walkable as a check walks
// a snapshot.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "monitor/snapshot.h"
#include "monitor/state_file.h"

namespace {

// A file of this run's own: fuzzers running side by side never read each
// other's inputs.
const std::string& Path() {
  static const std::string path = [] {
    char name[] = "/tmp/sentrel-fuzz-state-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    std::atexit([] { std::remove(Path().c_str()); });
    return std::string(name);
  }();
  return path;
}

void Walk(const sentrel::Snapshot& s, uint32_t f, std::string& names) {
  s.ForEachInWalkOrder(
      f, [&](size_t i, std::string_view name) { names.append(name).push_back(s.entry(i).crc & 1 ? 'a' : 'b'); },
      [&](uint32_t c) {
        names += s.FolderPath(c, "/x/");
        Walk(s, c, names);
      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  if (size > 0 && (data[0] & 1)) {
    std::FILE* f = std::fopen(Path().c_str(), "wb");
    if (f == nullptr) return 0;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  } else {
    sentrel::StateWriter out;
    if (!out.Open(Path(), 1, "FileName=/x/\n", error)) return 0;
    if (size > 0) out.Put(data + 1, size - 1);
    if (!out.Finish(error)) return 0;
  }
  sentrel::StateReader in;
  std::string settings, why;
  if (in.Open(Path(), 1, settings, why) != sentrel::StateReader::Opened::kReady) return 0;
  sentrel::FileList reports;
  if (!sentrel::GetReports(in, reports)) return 0;
  uint64_t seed = 0;
  sentrel::Snapshot s;
  if (!in.GetValue(seed) || !s.Load(in)) {
    in.Skip(why);
    return 0;
  }
  if (!in.Finish(why) || s.empty()) return 0;
  std::string names;
  Walk(s, 0, names);
  sentrel::Snapshot copy = s.Compacted();
  sentrel::TakenSet taken(s.entry_slots());
  sentrel::FolderMatch match(&s, &taken, 0);
  for (size_t i = 0; i < s.entry_slots() && i < 64; ++i) match.Take(s.entry(i).id());
  match.Take(sentrel::PathId{1, 2});
  return 0;
}

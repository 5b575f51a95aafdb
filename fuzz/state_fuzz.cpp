// State files as a directory item reads them at start. The bytes are the
// item's data inside a well-formed header and checksum (so that the checks
// of the content itself are reached), or, when the first byte is odd, the
// whole file as it stands. Whatever loads must be walkable as a check walks
// a snapshot.
#include <cstdint>
#include <string>

#include "fuzzed_state.h"
#include "monitor/snapshot.h"
#include "monitor/state_file.h"

namespace {

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
  sentrel::StateReader in;
  sentrel::FileList reports;
  if (!sentrel_fuzz::OpenFuzzedState(data, size, 1, "FileName=/x/\n", in, reports)) return 0;
  std::string why;
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

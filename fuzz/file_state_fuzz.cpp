// State files as a single-file item reads them at start: header, the
// reports a stop kept from their actions, the item's own data. The bytes are
// the part after the header inside a well-formed checksum, or, when the
// first byte is odd, the whole file as it stands.
#include <cstdint>
#include <string>

#include "fuzzed_state.h"
#include "monitor/chkfile.h"
#include "monitor/state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sentrel::StateReader in;
  sentrel::FileList reports;
  if (!sentrel_fuzz::OpenFuzzedState(data, size, 0, "FileName=/x\n", in, reports)) return 0;
  std::string why;
  for (const sentrel::FileData& f : reports) {
    if (f.State == sentrel::kStateNone || f.State > sentrel::kStateOlder) __builtin_trap();
  }
  sentrel::FileItemState state;
  sentrel::ReadFileItemState(in, state, why);
  return 0;
}

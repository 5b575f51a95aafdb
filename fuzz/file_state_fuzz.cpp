// State files as a single-file item reads them at start: header, the
// reports a stop kept from their actions, the item's own data. The bytes are
// the part after the header inside a well-formed checksum, or, when the
// first byte is odd, the whole file as it stands.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "monitor/chkfile.h"
#include "monitor/state_file.h"

namespace {

// A file of this run's own: fuzzers running side by side never read each
// other's inputs.
const std::string& Path() {
  static const std::string path = [] {
    char name[] = "/tmp/sentrel-fuzz-file-state-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    std::atexit([] { std::remove(Path().c_str()); });
    return std::string(name);
  }();
  return path;
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
    if (!out.Open(Path(), 0, "FileName=/x\n", error)) return 0;
    if (size > 0) out.Put(data + 1, size - 1);
    if (!out.Finish(error)) return 0;
  }
  sentrel::StateReader in;
  std::string settings, why;
  if (in.Open(Path(), 0, settings, why) != sentrel::StateReader::Opened::kReady) return 0;
  sentrel::FileList reports;
  if (!sentrel::GetReports(in, reports)) return 0;
  for (const sentrel::FileData& f : reports) {
    if (f.State == sentrel::kStateNone || f.State > sentrel::kStateOlder) __builtin_trap();
  }
  sentrel::FileItemState state;
  sentrel::ReadFileItemState(in, state, why);
  return 0;
}

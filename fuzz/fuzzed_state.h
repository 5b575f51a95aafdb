// What the state fuzzers share: a file of the run's own, and a state read
// back from the fuzzer's bytes.
#ifndef SENTREL_FUZZ_FUZZED_STATE_H_
#define SENTREL_FUZZ_FUZZED_STATE_H_

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/file_data.h"
#include "monitor/state_file.h"

namespace sentrel_fuzz {

// A file of this run's own: fuzzers running side by side never read each
// other's inputs. Removed when the run ends.
inline const std::string& StatePath() {
  static const std::string path = [] {
    char name[] = "/tmp/sentrel-fuzz-state-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    std::atexit([] { std::remove(StatePath().c_str()); });
    return std::string(name);
  }();
  return path;
}

// Writes the fuzzer's bytes as a state of item kind `kind` with `settings`:
// the part after the header inside a well-formed checksum, or, when the
// first byte is odd, the whole file as it stands. Opens it into `in` and
// reads the reports a stop kept; false when the reader refuses it before
// the item's own data.
inline bool OpenFuzzedState(const uint8_t* data, size_t size, int kind,
                            const std::string& settings, sentrel::StateReader& in,
                            sentrel::FileList& reports) {
  std::string error;
  if (size > 0 && (data[0] & 1)) {
    std::FILE* f = std::fopen(StatePath().c_str(), "wb");
    if (f == nullptr) return false;
    std::fwrite(data + 1, 1, size - 1, f);
    std::fclose(f);
  } else {
    sentrel::StateWriter out;
    if (!out.Open(StatePath(), kind, settings, error)) return false;
    if (size > 0) out.Put(data + 1, size - 1);
    if (!out.Finish(error)) return false;
  }
  std::string read_settings, why;
  if (in.Open(StatePath(), kind, read_settings, why) != sentrel::StateReader::Opened::kReady) {
    return false;
  }
  return sentrel::GetReports(in, reports);
}

}  // namespace sentrel_fuzz

#endif  // SENTREL_FUZZ_FUZZED_STATE_H_

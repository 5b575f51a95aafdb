#include <io.h>

#include <climits>
#include <cstdio>

#include "platform/std_streams.h"

namespace sentrel {
namespace {

int Descriptor(StdStream stream) {
  return stream == StdStream::kOutput ? _fileno(stdout) : _fileno(stderr);
}

}  // namespace

bool WriteStdStream(StdStream stream, std::string_view text) {
  // The descriptor's text mode still turns each line end into CR LF.
  const int fd = Descriptor(stream);
  while (!text.empty()) {
    const unsigned part = text.size() > INT_MAX / 2 ? INT_MAX / 2 : static_cast<unsigned>(text.size());
    const int n = _write(fd, text.data(), part);
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool WriteStdStreamWithin(StdStream stream, std::string_view text, int) {
  return WriteStdStream(stream, text);
}

bool StdStreamIsTerminal(StdStream stream) { return _isatty(Descriptor(stream)) != 0; }

bool StdStreamIsJournal(StdStream) { return false; }

}  // namespace sentrel

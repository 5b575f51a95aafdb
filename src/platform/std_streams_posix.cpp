#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/std_streams.h"

namespace sentrel {
namespace {

int Descriptor(StdStream stream) {
  return stream == StdStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
}

// A pipe takes a write of up to one page whole once poll says it has room,
// so a write of this size after poll does not wait.
constexpr size_t kChunk = 4096;

}  // namespace

bool WriteStdStream(StdStream stream, std::string_view text) {
  const int fd = Descriptor(stream);
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Someone else made the descriptor non-blocking: wait as a blocking
      // write would.
      struct pollfd p = {fd, POLLOUT, 0};
      poll(&p, 1, -1);
      continue;
    }
    return false;
  }
  return true;
}

bool WriteStdStreamWithin(StdStream stream, std::string_view text, int ms) {
  const int fd = Descriptor(stream);
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!text.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    struct pollfd p = {fd, POLLOUT, 0};
    const int r = poll(&p, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (p.revents & (POLLERR | POLLNVAL))) return false;
    const ssize_t n = write(fd, text.data(), std::min(text.size(), kChunk));
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return false;
    }
  }
  return true;
}

bool StdStreamIsTerminal(StdStream stream) { return isatty(Descriptor(stream)) == 1; }

bool StdStreamIsJournal(StdStream stream) {
  const char* names = getenv("JOURNAL_STREAM");
  if (names == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(names, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st;
  return fstat(Descriptor(stream), &st) == 0 && static_cast<unsigned long long>(st.st_dev) == device &&
         static_cast<unsigned long long>(st.st_ino) == inode;
}

}  // namespace sentrel

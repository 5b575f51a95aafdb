#ifndef SENTREL_PLATFORM_FILE_LOOKUP_H_
#define SENTREL_PLATFORM_FILE_LOOKUP_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sentrel {

// One file as a lookup found it: the name of its directory entry as it is on
// disk, its last-write time (UTC, seconds and nanoseconds since the epoch)
// and its size in bytes.
struct FoundFile {
  std::string name;
  int64_t mtime_sec = 0;
  int64_t mtime_nsec = 0;
  int64_t size = 0;
};

// The file at `path` itself, symbolic links followed. False when there is
// nothing there that can be read (missing, a dangling link, no permission).
bool StatFile(const std::string& path, FoundFile& found);

// Goes through the entries of `directory` (the current directory when empty)
// in the order the directory lists them and returns the first one whose name
// `accept` takes and whose data can be read, links followed. "." and ".." are
// never offered: they name no file of the directory.
bool FindFirstMatch(const std::string& directory,
                    const std::function<bool(std::string_view)>& accept,
                    FoundFile& found);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_FILE_LOOKUP_H_

#ifndef SENTREL_MONITOR_FIND_FILE_H_
#define SENTREL_MONITOR_FIND_FILE_H_

#include <string>
#include <string_view>

#include "platform/file_lookup.h"

namespace sentrel {

// Whether the last component of `path` holds a mask character ("*", "?" or
// the "[" of a set).
bool HasWildcard(std::string_view path);

// Finds the file a single-file item watches. A path that exists as written
// is that file, whatever characters its name holds. Otherwise, when its last
// component holds a mask, the first entry of its directory (in directory
// order) that the mask matches stands for the file; a mask that does not
// compile matches nothing. `found.name` is the entry's name as on disk.
bool FindWatchedFile(const std::string& path, FoundFile& found);

}  // namespace sentrel

#endif  // SENTREL_MONITOR_FIND_FILE_H_

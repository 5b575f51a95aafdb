#include "monitor/find_file.h"

#include <optional>

#include "core/masks.h"
#include "shell/text_util.h"

namespace sentrel {

bool HasWildcard(std::string_view path) {
  size_t slash = FindLastSeparator(path);
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last.find_first_of("*?[") != std::string_view::npos;
}

bool FindWatchedFile(const std::string& path, FoundFile& found) {
  if (StatFile(path, found)) return true;
  if (!HasWildcard(path)) return false;
  std::optional<TMask> mask;
  try {
    mask.emplace(FileNameOf(path));
  } catch (const InvalidMask&) {
    // Only the name as written could be meant, and it is not there.
    return false;
  }
  return FindFirstMatch(
      DirectoryOf(path), [&mask](std::string_view name) { return mask->Matches(name); }, found);
}

}  // namespace sentrel

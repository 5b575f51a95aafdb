#include "monitor/find_file.h"

#include "shell/text_util.h"

namespace sentrel {
namespace {

// Stand-in until the mask rules are in: takes only the name itself.
bool MatchesExactNameOnly(std::string_view pattern, std::string_view name) {
  return pattern == name;
}

}  // namespace

bool HasWildcard(std::string_view path) {
  size_t slash = path.rfind(kPathSeparator);
  std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return last.find_first_of("*?[") != std::string_view::npos;
}

bool FindWatchedFile(const std::string& path, FoundFile& found) {
  if (StatFile(path, found)) return true;
  if (!HasWildcard(path)) return false;
  const std::string pattern = FileNameOf(path);
  return FindFirstMatch(
      DirectoryOf(path),
      [&pattern](std::string_view name) { return MatchesExactNameOnly(pattern, name); },
      found);
}

}  // namespace sentrel

#include "config/path_remarks.h"

#include "platform/file_ops.h"

namespace sentrel {

bool StartsWithTilde(std::string_view path) { return !path.empty() && path[0] == '~'; }

std::string EnvironmentHint(std::string_view path) {
  const size_t dollar = path.find('$');
  const bool dollar_ref = dollar != std::string_view::npos && dollar + 1 < path.size() &&
                          (path[dollar + 1] == '{' || path[dollar + 1] == '_' ||
                           (path[dollar + 1] >= 'A' && path[dollar + 1] <= 'Z') ||
                           (path[dollar + 1] >= 'a' && path[dollar + 1] <= 'z'));
  const size_t percent = path.find('%');
  const bool percent_ref =
      percent != std::string_view::npos && path.find('%', percent + 2) != std::string_view::npos;
  if (!dollar_ref && !percent_ref) return std::string();
  return " (environment references such as $HOME are not expanded here)";
}

bool FolderExists(const std::string& folder) { return FolderTrouble(folder).empty(); }

std::string FolderTrouble(const std::string& folder) {
  if (folder.empty()) return std::string();
  const EntryInfo info = StatTarget(folder);
  if (info.type == EntryType::kDirectory) return std::string();
  return info.denied ? "cannot be read: permission denied" : "does not exist";
}

}  // namespace sentrel

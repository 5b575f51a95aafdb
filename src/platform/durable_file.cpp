#include "platform/durable_file.h"

namespace sentrel {

bool IsTemporaryNameOf(const std::string& name, const std::string& file_name) {
  constexpr std::string_view kSuffix = ".tmp";
  if (name.size() <= file_name.size() + 1 + kSuffix.size() ||
      name.compare(0, file_name.size(), file_name) != 0 || name[file_name.size()] != '.' ||
      name.compare(name.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
    return false;
  }
  // "<process>-<save>" between them, both plain numbers.
  const std::string_view middle = std::string_view(name).substr(
      file_name.size() + 1, name.size() - file_name.size() - 1 - kSuffix.size());
  const size_t dash = middle.find('-');
  if (dash == std::string_view::npos || dash == 0 || dash + 1 == middle.size()) return false;
  for (size_t i = 0; i < middle.size(); ++i) {
    if (i != dash && (middle[i] < '0' || middle[i] > '9')) return false;
  }
  return true;
}

}  // namespace sentrel

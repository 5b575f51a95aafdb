#ifndef SENTREL_TESTS_TREE_LISTING_H_
#define SENTREL_TESTS_TREE_LISTING_H_

// Test support: everything a folder holds, as one comparable text.

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace sentrel {

// One line per entry below `root`, sorted: its path and kind, and for a file
// its last-write time and content.
inline std::string TreeListing(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::set<std::string> lines;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::string line = fs::relative(it->path(), root).string();
    if (it->is_symlink() || it->is_directory()) {
      line += it->is_symlink() ? " link" : " dir";
    } else {
      std::ostringstream content;
      content << std::ifstream(it->path(), std::ios::binary).rdbuf();
      line += " " + std::to_string(it->last_write_time().time_since_epoch().count()) + " " +
              content.str();
    }
    lines.insert(line);
  }
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_TREE_LISTING_H_

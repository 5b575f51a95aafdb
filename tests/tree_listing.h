#ifndef SENTREL_TESTS_TREE_LISTING_H_
#define SENTREL_TESTS_TREE_LISTING_H_

// Test support: everything a folder holds, as one comparable text.

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace sentrel {

// One line per entry below `root` (in name order): its path, its kind, and
// for a file its size, last-write time and content.
inline std::string TreeListing(const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  std::ostringstream out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const fs::path& p = it->path();
    out << fs::relative(p, root).string();
    if (it->is_symlink()) {
      out << " link";
    } else if (it->is_directory()) {
      out << " dir";
    } else {
      std::ifstream in(p, std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      out << " " << it->file_size() << " "
          << it->last_write_time().time_since_epoch().count() << " " << content.str();
    }
    out << "\n";
  }
  // Directory order is the system's: sorted, the listing compares.
  std::istringstream lines(out.str());
  std::set<std::string> sorted;
  for (std::string line; std::getline(lines, line);) sorted.insert(line);
  std::string text;
  for (const std::string& line : sorted) text += line + "\n";
  return text;
}

}  // namespace sentrel

#endif  // SENTREL_TESTS_TREE_LISTING_H_

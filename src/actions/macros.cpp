#include "actions/macros.h"

namespace sentrel {

// Not built yet: texts pass through unexpanded.
std::string ExpandForFile(const FileData&, std::string_view text, const Services&) {
  return std::string(text);
}

int ExpandForBatch(const FileList& files, std::string& result, std::string_view format,
                   int start, int count, const Services&) {
  result.append(format);
  int left = static_cast<int>(files.size()) - start;
  int n = count <= 0 ? left : (count < left ? count : left);
  return n > 0 ? n : 1;
}

}  // namespace sentrel

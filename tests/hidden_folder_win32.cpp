#include "hidden_folder.h"

#include <windows.h>

#include <filesystem>

namespace sentrel {

std::string MakeHiddenFolder(const std::string& parent, const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(parent) / name;
  std::filesystem::create_directory(path);
  SetFileAttributesW(path.wstring().c_str(), FILE_ATTRIBUTE_HIDDEN);
  return name;
}

}  // namespace sentrel

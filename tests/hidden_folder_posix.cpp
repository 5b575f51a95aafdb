#include "hidden_folder.h"

#include <filesystem>

namespace sentrel {

std::string MakeHiddenFolder(const std::string& parent, const std::string& name) {
  std::filesystem::create_directory(std::filesystem::path(parent) / ("." + name));
  return "." + name;
}

}  // namespace sentrel

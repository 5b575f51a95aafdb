#include "entry/default_config.h"

#include <filesystem>
#include <system_error>

#include "shell/text_util.h"

namespace sentrel {

std::vector<std::string> DefaultConfigurationPlaces(const std::string& program_path) {
  return {SiblingPath(program_path, "default.mon")};
}

std::string ChooseDefaultConfiguration(const std::vector<std::string>& places) {
  for (const std::string& place : places) {
    std::error_code ec;
    if (std::filesystem::exists(place, ec)) return place;
  }
  return places.empty() ? std::string() : places.front();
}

}  // namespace sentrel

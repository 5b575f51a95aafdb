#include "entry/default_config.h"

#include "platform/file_ops.h"
#include "shell/text_util.h"

namespace sentrel {

std::vector<std::string> DefaultConfigurationPlaces(const std::string& program_path) {
  return {SiblingPath(program_path, "default.mon")};
}

std::string ChooseDefaultConfiguration(const std::vector<std::string>& places) {
  for (const std::string& place : places) {
    if (StatTarget(place).exists()) return place;
  }
  return places.empty() ? std::string() : places.front();
}

}  // namespace sentrel

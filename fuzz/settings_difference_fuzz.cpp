// The comparison of the settings a state was saved under with today's: the
// saved side comes from a file anybody may have edited. The input is the
// two texts, cut at the first zero byte.
#include <cstdint>
#include <string>
#include <string_view>

#include "monitor/state_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\0');
  const std::string_view saved = text.substr(0, cut);
  const std::string_view now = cut == std::string_view::npos ? "" : text.substr(cut + 1);
  const std::string said = sentrel::SettingsDifference(saved, now);
  if (said.empty()) __builtin_trap();
  return 0;
}

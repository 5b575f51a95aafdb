// The per-user settings file ("values.reg").
#include <cstdint>
#include <string>

#include "platform/settings_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto values = sentrel::ParseSettingValues(text);
  for (const auto& [name, value] : values) {
    for (char c : name) {
      if (c >= 'a' && c <= 'z') __builtin_trap();  // names are kept upper-cased
    }
    (void)value;
  }
  return 0;
}

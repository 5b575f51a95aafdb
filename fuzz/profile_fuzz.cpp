// Language files, read with the profile-file rules.
#include <cstdint>
#include <string>

#include "platform/profile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  for (const char* section : {"Strings", "General", ""}) {
    for (const char* key : {"lngStarted", "lngLoaded", "HelpFile", ""}) {
      std::string v = sentrel::ReadProfileText(text, section, key, "fallback");
      if (v.size() > 2047) __builtin_trap();
    }
  }
  return 0;
}

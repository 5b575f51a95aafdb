#include "platform/regional.h"

#include <cctype>

namespace sentrel {

// The first character of a pattern that is not a field, a digit, a blank or
// quoted text. Only ASCII punctuation counts: a byte of a multi-byte
// character (as in "%Y年%m月%d日") is no separator.
char FirstSeparator(const std::string& pattern, char fallback) {
  bool quoted = false;
  for (char c : pattern) {
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (quoted || c == ' ') continue;
    const unsigned char u = static_cast<unsigned char>(c);
    if (u > 0x20 && u < 0x7F && !std::isalnum(u)) return c;
  }
  return fallback;
}

}  // namespace sentrel

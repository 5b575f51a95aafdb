// Mask texts and names: compiling never fails other than by InvalidMask, and
// masks made of plain ASCII characters, "*" and "?" match exactly as a simple
// backtracking matcher says.
#include <algorithm>
#include <cstdint>
#include <string>

#include "monitor/masks.h"

namespace {

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// "?" that follows a "*" in the same run of wildcards is dropped.
std::string Normalise(const std::string& mask) {
  std::string out;
  bool star_in_run = false;
  for (char c : mask) {
    if (c == '*') {
      star_in_run = true;
      out.push_back(c);
    } else if (c == '?') {
      if (!star_in_run) out.push_back(c);
    } else {
      star_in_run = false;
      out.push_back(c);
    }
  }
  return out;
}

bool Reference(const char* m, const char* n) {
  if (*m == '\0') return *n == '\0';
  if (*m == '*') {
    for (const char* p = n;; ++p) {
      if (Reference(m + 1, p)) return true;
      if (*p == '\0') return false;
    }
  }
  if (*n == '\0') return false;
  if (*m == '?' || Upper(*m) == Upper(*n)) return Reference(m + 1, n + 1);
  return false;
}

bool Simple(const std::string& s) {
  for (unsigned char c : s) {
    if (c == 0 || c >= 0x80 || c == '[') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t nl = text.find('\n');
  std::string mask = text.substr(0, nl);
  std::string name = nl == std::string::npos ? std::string() : text.substr(nl + 1);

  sentrel::MaskList list;
  try {
    sentrel::SplitMasks(mask, list, ";");
  } catch (const sentrel::InvalidMask&) {
  }
  sentrel::MatchesAnyMask(list, name);

  try {
    sentrel::TMask m(mask);
    bool got = m.Matches(name);
    // The reference backtracks naively: keep it to few stars.
    if (Simple(mask) && Simple(name) && mask.size() < 200 && name.size() < 200 &&
        std::count(mask.begin(), mask.end(), '*') <= 6) {
      std::string norm = Normalise(mask);
      if (got != Reference(norm.c_str(), name.c_str())) __builtin_trap();
    }
  } catch (const sentrel::InvalidMask&) {
  }
  return 0;
}

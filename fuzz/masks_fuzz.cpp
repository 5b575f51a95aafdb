// Mask texts and names: compiling never fails other than by InvalidMask, and
// masks made of plain ASCII characters, "*" and "?" match exactly as a simple
// backtracking matcher says.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/masks.h"

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

// Plain glob matching by dynamic programming: row j tells which prefixes of
// the name the first j mask characters match.
bool Reference(const std::string& m, const std::string& n) {
  std::vector<char> row(n.size() + 1, 0), next(n.size() + 1, 0);
  row[0] = 1;
  for (char c : m) {
    std::fill(next.begin(), next.end(), 0);
    if (c == '*') {
      char any = 0;
      for (size_t i = 0; i <= n.size(); ++i) {
        any |= row[i];
        next[i] = any;
      }
    } else {
      for (size_t i = 0; i < n.size(); ++i) {
        if (row[i] && (c == '?' || Upper(c) == Upper(n[i]))) next[i + 1] = 1;
      }
    }
    row.swap(next);
  }
  return row[n.size()] != 0;
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
    if (Simple(mask) && Simple(name)) {
      if (got != Reference(Normalise(mask), name)) __builtin_trap();
    }
  } catch (const sentrel::InvalidMask&) {
  }
  return 0;
}

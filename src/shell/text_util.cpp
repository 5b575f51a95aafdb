#include "shell/text_util.h"

#include <cstdio>

#include "platform/clock.h"

namespace sentrel {
namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

}  // namespace

std::string DirectoryOf(std::string_view path) {
  size_t slash = FindLastSeparator(path);
  if (slash == std::string_view::npos) return std::string();
  return std::string(path.substr(0, slash + 1));
}

std::string FileNameOf(std::string_view path) {
  size_t slash = FindLastSeparator(path);
  if (slash == std::string_view::npos) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string SiblingPath(std::string_view path, std::string_view name) {
  std::string out = DirectoryOf(path);
  out.append(name);
  return out;
}

size_t UnquoteArgument(std::string_view source, std::string& out) {
  out.clear();
  size_t i = 0;
  while (i < source.size()) {
    char c = source[i];
    if (c == '"') return i + 1;
    if (c == '\\') {
      if (i + 1 >= source.size()) return i + 1;
      out.push_back(source[i + 1]);
      i += 2;
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return i;
}

void ReplaceChar(std::string& text, char from, char to) {
  for (char& c : text) {
    if (c == from) c = to;
  }
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string ShellQuoted(std::string_view text, std::string_view special) {
  bool control = false;
  for (const char c : text) {
    control = control || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
  }
  if (control) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "$'";
    for (const char c : text) {
      const auto u = static_cast<unsigned char>(c);
      if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\r') {
        out += "\\r";
      } else if (u < 0x20 || u == 0x7f) {
        out += {'\\', 'x', kHex[u >> 4], kHex[u & 15]};
      } else if (c == '\\' || c == '\'') {
        out += {'\\', c};
      } else {
        out += c;
      }
    }
    return out + "'";
  }
  if (!text.empty() && text.find_first_of(special) == std::string_view::npos) {
    return std::string(text);
  }
  std::string out = "'";
  for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string InsertPath(const std::string& text, const std::string& path) {
  size_t at = text.find("%s");
  if (at == std::string::npos) return text;
  return text.substr(0, at) + path + text.substr(at + 2);
}

std::string LocalTimestamp() {
  const LocalTime t = SystemClock().Now();
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return buf;
}

}  // namespace sentrel

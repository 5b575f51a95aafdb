#include <fstream>
#include <sstream>

#include "platform/profile_reader.h"

namespace sentrel {
namespace {

constexpr size_t kMaxValue = 2047;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

class FileProfileReader final : public ProfileReader {
 public:
  explicit FileProfileReader(std::string path) : path_(std::move(path)) {}

  std::string Read(const std::string& section, const std::string& key,
                   const std::string& fallback) override {
    if (!loaded_) {
      loaded_ = true;
      std::ifstream in(path_, std::ios::binary);
      if (in) {
        std::ostringstream ss;
        ss << in.rdbuf();
        text_ = ss.str();
      }
    }
    return ReadProfileText(text_, section, key, fallback);
  }

 private:
  std::string path_;
  bool loaded_ = false;
  std::string text_;
};

}  // namespace

std::string ReadProfileText(const std::string& text, const std::string& section,
                            const std::string& key, const std::string& fallback) {
  std::string_view rest(text);
  // Editors on Windows start a UTF-8 file with a byte-order mark; left in,
  // it would hide the first section.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  bool in_section = false;
  while (!rest.empty()) {
    size_t eol = rest.find('\n');
    std::string_view line = rest.substr(0, eol);
    rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      std::string_view name =
          Trim(line.substr(1, close == std::string_view::npos ? line.size() - 1 : close - 1));
      in_section = EqualsIgnoreAsciiCase(name, section);
      continue;
    }
    if (!in_section) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (!EqualsIgnoreAsciiCase(Trim(line.substr(0, eq)), key)) continue;
    std::string_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kMaxValue));
  }
  return fallback.substr(0, kMaxValue);
}

std::unique_ptr<ProfileReader> OpenProfile(const std::string& path) {
  return std::make_unique<FileProfileReader>(path);
}

}  // namespace sentrel

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/paths.h"
#include "platform/settings_store.h"

namespace sentrel {
namespace {

namespace fs = std::filesystem;

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return s;
}

// Reads a quoted text starting at s[i] == '"'; advances i past the closing
// quote. Returns false when the text is not closed.
bool ReadQuoted(const std::string& s, size_t& i, std::string& out) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  out.clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == '"') return true;
    if (c == '\\' && i < s.size()) c = s[i++];
    out.push_back(c);
  }
  return false;
}

// The whole content of a file; nothing when it cannot be read.
std::optional<std::string> ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return ss.str();
}

// Whether `copy` holds the same folders, and files with the same bytes, as
// `original`, and nothing else.
bool SameTree(const fs::path& original, const fs::path& copy) {
  std::error_code ec;
  size_t count = 0;
  for (fs::recursive_directory_iterator it(original, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path other = copy / it->path().lexically_relative(original);
    if (it->is_directory(ec)) {
      if (!fs::is_directory(other, ec)) return false;
    } else {
      const auto a = ReadAll(it->path());
      const auto b = ReadAll(other);
      if (!a || !b || *a != *b) return false;
    }
    ++count;
  }
  if (ec) return false;
  for (fs::recursive_directory_iterator it(copy, ec), end; !ec && it != end; it.increment(ec)) {
    if (count-- == 0) return false;
  }
  return !ec && count == 0;
}

class DirectorySettingsStore final : public SettingsStore {
 public:
  explicit DirectorySettingsStore(std::string root) : root_(std::move(root)) {}

  bool KeyExists(const std::string& key) override {
    std::error_code ec;
    return fs::is_directory(PathOf(key), ec);
  }

  bool MoveKey(const std::string& from, const std::string& to) override {
    if (KeyExists(to)) return true;
    if (!KeyExists(from)) return false;
    // Copied under a name of its own and put in place only once it reads
    // back the same: a key left half copied (a full disk) would pass for
    // the whole one at the next start, and the legacy key be deleted.
    const fs::path target = PathOf(to);
    const fs::path staging =
        target.parent_path() / ("." + target.filename().string() + ".sentrel-new");
    std::error_code ec;
    fs::remove_all(staging, ec);
    fs::create_directories(target.parent_path(), ec);
    bool done = !ec;
    if (done) {
      fs::copy(PathOf(from), staging, fs::copy_options::recursive, ec);
      done = !ec && SameTree(PathOf(from), staging);
    }
    if (done) {
      fs::rename(staging, target, ec);
      done = !ec;
    }
    if (!done) fs::remove_all(staging, ec);
    return done;
  }

  void DeleteKey(const std::string& key) override {
    std::error_code ec;
    if (key.empty()) return;  // never the whole store
    fs::remove_all(PathOf(key), ec);
  }

  void DeleteKeyIfEmpty(const std::string& key) override {
    std::error_code ec;
    fs::path p = PathOf(key);
    if (!fs::is_directory(p, ec)) return;
    // An empty values file counts as no values.
    fs::path values = p / "values.reg";
    if (fs::exists(values, ec) && fs::file_size(values, ec) == 0) {
      bool only_values = true;
      for (const auto& entry : fs::directory_iterator(p, ec)) {
        if (entry.path().filename() != "values.reg") only_values = false;
      }
      if (only_values) fs::remove(values, ec);
    }
    fs::remove(p, ec);  // fails, as wanted, when anything is left
  }

  std::optional<std::map<std::string, SettingValue>> ReadValues(
      const std::string& key) override {
    if (!KeyExists(key)) return std::nullopt;
    std::ifstream in(PathOf(key) / "values.reg", std::ios::binary);
    if (!in) return std::map<std::string, SettingValue>();
    std::ostringstream ss;
    ss << in.rdbuf();
    return ParseSettingValues(ss.str());
  }

 private:
  fs::path PathOf(const std::string& key) const {
    std::string k = key;
    while (!k.empty() && k.front() == '/') k.erase(0, 1);
    return fs::path(root_) / k;
  }

  std::string root_;
};

}  // namespace

std::map<std::string, SettingValue> ParseSettingValues(const std::string& text) {
  std::map<std::string, SettingValue> values;
  // Editors on Windows start a UTF-8 file with a byte-order mark.
  std::istringstream in(text.rfind(kUtf8Bom, 0) == 0 ? text.substr(3) : text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t i = 0;
    std::string name;
    if (!ReadQuoted(line, i, name)) continue;
    if (i >= line.size() || line[i] != '=') continue;
    ++i;
    SettingValue v;
    if (i < line.size() && line[i] == '"') {
      if (!ReadQuoted(line, i, v.text)) continue;
      v.kind = SettingValue::Kind::kText;
    } else if (line.compare(i, 6, "dword:") == 0) {
      std::string hex = line.substr(i + 6);
      if (hex.empty() || hex.size() > 8) continue;
      uint32_t n = 0;
      bool ok = true;
      for (char c : hex) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else { ok = false; break; }
        n = n * 16 + static_cast<uint32_t>(d);
      }
      if (!ok) continue;
      v.kind = SettingValue::Kind::kDword;
      v.dword = n;
    } else {
      continue;
    }
    // Value names are case-insensitive; the first definition wins.
    values.emplace(UpperAscii(name), std::move(v));
  }
  return values;
}

std::unique_ptr<SettingsStore> OpenSettingsStoreAt(const std::string& root) {
  return std::make_unique<DirectorySettingsStore>(root);
}

std::unique_ptr<SettingsStore> OpenUserSettingsStore() {
  return OpenSettingsStoreAt(UserConfigHome());
}

}  // namespace sentrel

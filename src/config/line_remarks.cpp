#include "config/line_remarks.h"

#include <algorithm>

#include "shell/text_util.h"

namespace sentrel {
namespace {

constexpr size_t kShownChars = 60;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The line as it may be shown: one line, not too long.
std::string Shown(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, kShownChars)) out += c == '\t' ? ' ' : c;
  if (s.size() > kShownChars) out += "...";
  return "\"" + out + "\"";
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Edits (insert, delete, replace, swap of neighbours) from a to b, ignoring
// ASCII case; stops counting above `limit`.
size_t Distance(std::string_view a, std::string_view b, size_t limit) {
  const size_t n = a.size(), m = b.size();
  if ((n > m ? n - m : m - n) > limit) return limit + 1;
  std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1));
  for (size_t i = 0; i <= n; ++i) d[i][0] = i;
  for (size_t j = 0; j <= m; ++j) d[0][j] = j;
  for (size_t i = 1; i <= n; ++i) {
    for (size_t j = 1; j <= m; ++j) {
      const size_t cost = Lower(a[i - 1]) == Lower(b[j - 1]) ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && Lower(a[i - 1]) == Lower(b[j - 2]) &&
          Lower(a[i - 2]) == Lower(b[j - 1])) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[n][m];
}

}  // namespace

void LineRemarks::Add(unsigned owner, const std::vector<std::string>& keys,
                      const std::string& caption) {
  for (int kind = 0; kind < 8; ++kind) {
    if (owner == (kFirstAction << kind)) {
      if (captions_.size() <= static_cast<size_t>(kind)) captions_.resize(kind + 1);
      captions_[static_cast<size_t>(kind)] = caption;
    }
  }
  for (const std::string& name : keys) {
    auto it = std::find_if(keys_.begin(), keys_.end(),
                           [&](const Key& k) { return EqualsIgnoreCase(k.name, name); });
    if (it == keys_.end()) {
      keys_.push_back({name, owner});
    } else {
      it->owners |= owner;
    }
  }
}

const LineRemarks::Key* LineRemarks::Find(std::string_view key) const {
  for (const Key& k : keys_) {
    if (EqualsIgnoreCase(k.name, key)) return &k;
  }
  return nullptr;
}

std::string LineRemarks::Nearest(std::string_view key) const {
  // Short keys need a closer match to be taken for a slip of the hand.
  const size_t limit = key.size() <= 4 ? 1 : key.size() <= 8 ? 2 : 3;
  const Key* best = nullptr;
  size_t best_distance = limit + 1;
  for (const Key& k : keys_) {
    const size_t d = Distance(key, k.name, limit);
    if (d < best_distance) {
      best = &k;
      best_distance = d;
    }
  }
  return best != nullptr ? best->name : std::string();
}

std::string LineRemarks::ActionCaptions(unsigned owners) const {
  std::string out;
  for (size_t kind = 0; kind < captions_.size(); ++kind) {
    if ((owners & (kFirstAction << kind)) == 0) continue;
    if (!out.empty()) out += ", ";
    out += captions_[kind] + " (Action=" + std::to_string(kind) + ")";
  }
  return out;
}

std::string LineRemarks::Explain(std::string_view line, const Place& place) const {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (Trim(line).empty()) return std::string();
  const std::string ignored = "; the line is ignored";
  if (line.substr(0, 3) == "\xEF\xBB\xBF") {
    return "the file begins with a byte-order mark, which hides the key of this line; save "
           "the file without it";
  }
  const size_t eq = line.find('=');
  if (eq == std::string_view::npos) {
    const Key* k = Find(Trim(line));
    if (k != nullptr) return Shown(line) + " has no \"=\" and value" + ignored;
    return Shown(line) + " is not a Key=Value line" + ignored;
  }
  const std::string_view written = line.substr(0, eq);
  const std::string_view key = Trim(written);
  const Key* k = Find(key);
  if (k == nullptr) {
    std::string message = "unknown key \"" + std::string(key) + "\"";
    const std::string near = Nearest(key);
    if (!near.empty()) message += " (did you mean \"" + near + "\"?)";
    return message + ignored;
  }
  if (key.size() != written.size()) {
    std::string_view value = line.substr(eq + 1);
    while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
    return "blank before \"=\" or at the start: " + Shown(line) + " is not read; write " +
           Shown(k->name + "=" + std::string(value));
  }
  const unsigned item = place.item_kind == 1 ? kDirectoryItem : kFileItem;
  const unsigned other_item = item == kDirectoryItem ? kFileItem : kDirectoryItem;
  const unsigned actions = k->owners & ~(kFileItem | kDirectoryItem | kLoader | kSwitch);
  const std::string name = "\"" + k->name + "\"";
  if ((k->owners & other_item) != 0 && actions == 0) {
    return name + " is a key of " +
           (other_item == kDirectoryItem ? "directory items (IsDirectory=1)"
                                         : "single-file items (IsDirectory=0)") +
           ", and this is a " + (item == kDirectoryItem ? "directory item" : "single-file item") +
           ignored;
  }
  if (actions != 0) {
    if (place.older_format) {
      return name + " is a key of " + ActionCaptions(actions) +
             ", which the older form of this block (FileList=, Execute=...) does not have" +
             ignored;
    }
    if (place.action_kind < 0) {
      return name + " is a key of an action, but no \"Action=\" line opens one before it" +
             ignored;
    }
    return name + " is not a key of " +
           ActionCaptions(kFirstAction << static_cast<unsigned>(place.action_kind)) +
           ", opened at line " + std::to_string(place.action_line) + ", but of " +
           ActionCaptions(actions) + ignored;
  }
  return name + " is not read here" + ignored;
}

}  // namespace sentrel

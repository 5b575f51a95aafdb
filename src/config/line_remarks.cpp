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

// Edits (insert, delete, replace, swap of neighbours) from a to b, both in
// small letters; anything above `limit` counts as limit + 1.
size_t Distance(std::string_view a, std::string_view b, size_t limit) {
  const size_t n = a.size(), m = b.size();
  constexpr size_t kMax = 63;
  if ((n > m ? n - m : m - n) > limit || n > kMax || m > kMax) return limit + 1;
  // Three rows of the table, row i at i % 3: the swap looks two rows back.
  size_t rows[3][kMax + 1];
  for (size_t j = 0; j <= m; ++j) rows[0][j] = j;
  for (size_t i = 1; i <= n; ++i) {
    size_t* row = rows[i % 3];
    const size_t* back1 = rows[(i + 2) % 3];
    const size_t* back2 = rows[(i + 1) % 3];
    row[0] = i;
    size_t best = i;
    for (size_t j = 1; j <= m; ++j) {
      size_t d = back1[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      if (back1[j] + 1 < d) d = back1[j] + 1;
      if (row[j - 1] + 1 < d) d = row[j - 1] + 1;
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1] && back2[j - 2] + 1 < d) {
        d = back2[j - 2] + 1;
      }
      row[j] = d;
      if (d < best) best = d;
    }
    // Every way on passes through this row.
    if (best > limit) return limit + 1;
  }
  return rows[n % 3][m];
}

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
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
      keys_.push_back({name, Lowered(name), owner});
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
  const std::string lowered = Lowered(key.substr(0, 64));
  const Key* best = nullptr;
  size_t best_distance = limit + 1;
  for (const Key& k : keys_) {
    const size_t d = Distance(lowered, k.lowered, limit);
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
    std::string message = "unknown key " + Shown(key);
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

#include "core/ignore_rules.h"

#include <cctype>

namespace sentrel {
namespace {

enum class Wild { kMatch, kNoMatch, kAbortAll, kAbortToStarStar };

// A "[...]" set starting at p (just after "["). Returns the position after
// its "]", or npos for a set never closed; `hit` says whether `c` is in it.
size_t MatchSet(std::string_view p, size_t i, unsigned char c, bool& hit) {
  hit = false;
  bool negate = false;
  if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
    negate = true;
    ++i;
  }
  bool first = true;
  unsigned char prev = 0;
  for (; i < p.size(); ++i) {
    unsigned char ch = static_cast<unsigned char>(p[i]);
    if (ch == ']' && !first) {
      hit = hit != negate;
      return i + 1;
    }
    first = false;
    if (ch == '\\') {
      if (++i >= p.size()) return std::string_view::npos;
      ch = static_cast<unsigned char>(p[i]);
      if (ch == c) hit = true;
    } else if (ch == '-' && prev && i + 1 < p.size() && p[i + 1] != ']') {
      unsigned char hi = static_cast<unsigned char>(p[++i]);
      if (hi == '\\') {
        if (++i >= p.size()) return std::string_view::npos;
        hi = static_cast<unsigned char>(p[i]);
      }
      if (prev <= c && c <= hi) hit = true;
      ch = 0;
    } else if (ch == '[' && i + 1 < p.size() && p[i + 1] == ':') {
      const size_t end = p.find(":]", i + 2);
      if (end == std::string_view::npos) return std::string_view::npos;
      const std::string_view cls = p.substr(i + 2, end - i - 2);
      const int k = c;
      const bool in = (cls == "alnum" && std::isalnum(k)) || (cls == "alpha" && std::isalpha(k)) ||
                      (cls == "blank" && (c == ' ' || c == '\t')) ||
                      (cls == "cntrl" && std::iscntrl(k)) || (cls == "digit" && std::isdigit(k)) ||
                      (cls == "graph" && std::isgraph(k)) || (cls == "lower" && std::islower(k)) ||
                      (cls == "print" && std::isprint(k)) || (cls == "punct" && std::ispunct(k)) ||
                      (cls == "space" && std::isspace(k)) || (cls == "upper" && std::isupper(k)) ||
                      (cls == "xdigit" && std::isxdigit(k));
      // An unknown class name makes the whole pattern match nothing.
      static constexpr std::string_view kClasses[] = {
          "alnum", "alpha", "blank", "cntrl", "digit", "graph",
          "lower", "print", "punct", "space", "upper", "xdigit"};
      bool known = false;
      for (std::string_view k2 : kClasses) known = known || k2 == cls;
      if (!known) return std::string_view::npos;
      if (in) hit = true;
      i = end + 1;
      ch = 0;
    } else if (ch == c) {
      hit = true;
    }
    prev = ch;
  }
  return std::string_view::npos;
}

Wild Match(std::string_view p, size_t pi, std::string_view t, size_t ti) {
  for (; pi < p.size(); ++pi, ++ti) {
    const char pc = p[pi];
    if (ti >= t.size() && pc != '*') return Wild::kAbortAll;
    switch (pc) {
      case '\\':
        if (++pi >= p.size()) return Wild::kNoMatch;
        if (t[ti] != p[pi]) return Wild::kNoMatch;
        break;
      case '?':
        if (t[ti] == '/') return Wild::kNoMatch;
        break;
      case '[': {
        if (t[ti] == '/') return Wild::kNoMatch;
        bool hit = false;
        const size_t after = MatchSet(p, pi + 1, static_cast<unsigned char>(t[ti]), hit);
        if (after == std::string_view::npos) return Wild::kAbortAll;
        if (!hit) return Wild::kNoMatch;
        pi = after - 1;
        break;
      }
      case '*': {
        bool across = false;
        if (pi + 1 < p.size() && p[pi + 1] == '*') {
          const size_t star = pi;
          while (pi + 1 < p.size() && p[pi + 1] == '*') ++pi;
          const bool at_start = star == 0 || p[star - 1] == '/';
          const bool at_end = pi + 1 == p.size() || p[pi + 1] == '/';
          if (at_start && at_end) {
            // "**/" may stand for no folder at all.
            if (pi + 1 < p.size() && Match(p, pi + 2, t, ti) == Wild::kMatch) return Wild::kMatch;
            across = true;
          }
        }
        ++pi;
        if (pi == p.size()) {
          if (!across && t.find('/', ti) != std::string_view::npos) return Wild::kNoMatch;
          return Wild::kMatch;
        }
        if (!across && p[pi] == '/') {
          const size_t slash = t.find('/', ti);
          if (slash == std::string_view::npos) return Wild::kNoMatch;
          ti = slash;
          if (t[ti] != p[pi]) return Wild::kNoMatch;
          break;
        }
        for (; ti < t.size(); ++ti) {
          const Wild r = Match(p, pi, t, ti);
          if (r != Wild::kNoMatch) {
            if (!across || r != Wild::kAbortToStarStar) return r;
          } else if (!across && t[ti] == '/') {
            return Wild::kAbortToStarStar;
          }
        }
        return Wild::kAbortAll;
      }
      default:
        if (t[ti] != pc) return Wild::kNoMatch;
        break;
    }
  }
  return ti == t.size() ? Wild::kMatch : Wild::kNoMatch;
}

// Where a pattern line ends once its trailing blanks are gone; a blank
// escaped by a backslash stays.
size_t EndOfPattern(std::string_view line) {
  size_t blanks_from = std::string_view::npos;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == ' ') {
      if (blanks_from == std::string_view::npos) blanks_from = i;
      continue;
    }
    if (line[i] == '\\' && ++i >= line.size()) return line.size();
    blanks_from = std::string_view::npos;
  }
  return blanks_from == std::string_view::npos ? line.size() : blanks_from;
}

std::string_view NameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool WildMatch(std::string_view pattern, std::string_view name) {
  return Match(pattern, 0, name, 0) == Wild::kMatch;
}

void IgnoreRules::Parse(std::string_view text, std::vector<Pattern>& out) {
  // A byte-order mark some editors write is no part of the first pattern.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    const size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    line = line.substr(0, EndOfPattern(line));
    Pattern p;
    if (!line.empty() && line[0] == '!') {
      p.negative = true;
      line.remove_prefix(1);
    }
    if (!line.empty() && line.back() == '/') {
      p.folders_only = true;
      line.remove_suffix(1);
    }
    if (line.empty()) continue;
    p.any_depth = line.find('/') == std::string_view::npos;
    if (line[0] == '/') line.remove_prefix(1);
    p.text = std::string(line);
    out.push_back(std::move(p));
  }
}

void IgnoreRules::AddFile(std::string_view base, std::string_view text) {
  File file;
  file.base = std::string(base);
  Parse(text, file.patterns);
  if (!file.patterns.empty()) files_.push_back(std::move(file));
}

void IgnoreRules::AddGlobal(std::string_view text) { Parse(text, global_.patterns); }

IgnoreRules::Verdict IgnoreRules::MatchFile(const File& file, std::string_view path, bool is_dir) {
  std::string_view below = path;
  if (!file.base.empty()) {
    if (path.size() <= file.base.size() || path.substr(0, file.base.size()) != file.base ||
        path[file.base.size()] != '/') {
      return Verdict::kUnmatched;
    }
    below = path.substr(file.base.size() + 1);
  }
  for (auto it = file.patterns.rbegin(); it != file.patterns.rend(); ++it) {
    if (it->folders_only && !is_dir) continue;
    const bool hit = it->any_depth ? WildMatch(it->text, NameOf(below)) : WildMatch(it->text, below);
    if (hit) return it->negative ? Verdict::kTakenBack : Verdict::kIgnored;
  }
  return Verdict::kUnmatched;
}

IgnoreRules::Verdict IgnoreRules::Match(std::string_view path, bool is_dir) const {
  // Files are added as the walk meets them, so a deeper one always comes
  // later in the list than the files of the folders above it.
  for (auto it = files_.rbegin(); it != files_.rend(); ++it) {
    const Verdict v = MatchFile(*it, path, is_dir);
    if (v != Verdict::kUnmatched) return v;
  }
  return MatchFile(global_, path, is_dir);
}

bool IgnoreRules::Ignores(std::string_view path, bool is_dir) const {
  for (size_t slash = path.find('/'); slash != std::string_view::npos;
       slash = path.find('/', slash + 1)) {
    if (Match(path.substr(0, slash), true) == Verdict::kIgnored) return true;
  }
  return Match(path, is_dir) == Verdict::kIgnored;
}

}  // namespace sentrel

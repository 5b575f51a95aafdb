#include "core/masks.h"

namespace sentrel {
namespace {

// One skip element is kept per "*"; more than this many makes a mask that
// nobody writes on purpose, so it is refused.
constexpr int kMaxSkipElements = 30;
constexpr size_t kMaxMaskValue = 4096;

uint8_t UpperAscii(uint8_t c) { return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c; }

bool InSet(const std::array<uint64_t, 4>& set, uint8_t c) {
  return (set[c >> 6] >> (c & 63)) & 1u;
}

void AddToSet(std::array<uint64_t, 4>& set, uint8_t c) { set[c >> 6] |= uint64_t{1} << (c & 63); }

bool IsContinuation(uint8_t c) { return (c & 0xC0) == 0x80; }

}  // namespace

size_t Utf8CharLength(const char* s, size_t avail) {
  const auto* u = reinterpret_cast<const uint8_t*>(s);
  const uint8_t lead = u[0];
  size_t len;
  // The allowed range of the second byte rules out overlong forms,
  // surrogates and code points above U+10FFFF.
  uint8_t lo = 0x80, hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3;
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4;
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  if (avail < len || u[1] < lo || u[1] > hi) return 1;
  for (size_t i = 2; i < len; ++i) {
    if (!IsContinuation(u[i])) return 1;
  }
  return len;
}

InvalidMask::InvalidMask(std::string_view mask, int position)
    : std::runtime_error("'" + std::string(mask) + "' is an invalid mask at (" +
                         std::to_string(position) + ")"),
      mask_(mask),
      position_(position) {}

TMask::TMask(std::string_view text) {
  bool pending_skip = false;
  int skip_count = 0;
  // Every element takes the pending "*"; `last` is the 0-based index of the
  // element's last character, which the error names when it is one too many.
  auto add = [&](Element el, size_t last) {
    el.skip = pending_skip;
    pending_skip = false;
    if (el.skip && ++skip_count > kMaxSkipElements) {
      throw InvalidMask(text, static_cast<int>(last) + 1);
    }
    elements_.push_back(el);
  };

  size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '*') {
      pending_skip = true;
      ++i;
    } else if (c == '?') {
      // A "?" right after "*" adds nothing: the run of "*" before it already
      // swallows any character it could stand for.
      if (!pending_skip) {
        Element el;
        el.kind = Kind::kAnyChar;
        add(el, i);
      }
      ++i;
    } else if (c == '[') {
      Element el;
      const size_t close = CompileSet(text, i, el);
      add(el, close);
      i = close + 1;
    } else {
      const size_t len = Utf8CharLength(text.data() + i, text.size() - i);
      Element el;
      if (len > 1) {
        el.kind = Kind::kMultiByte;
        el.length = static_cast<uint8_t>(len);
        for (size_t k = 0; k < len; ++k) el.bytes[k] = static_cast<uint8_t>(text[i + k]);
      } else {
        el.kind = Kind::kLiteral;
        el.bytes[0] = UpperAscii(c);
      }
      add(el, i + len - 1);
      i += len;
    }
  }
  Element end;
  end.kind = Kind::kEnd;
  add(end, text.size());
}

// Compiles the set that opens at text[open] == '[' into `el`; returns the
// index of its closing "]".
size_t TMask::CompileSet(std::string_view text, size_t open, Element& el) {
  Set members{};
  bool any_member = false;
  int previous = -1;  // the last member a plain character added
  size_t i = open + 1;
  el.kind = Kind::kSet;
  if (i < text.size() && text[i] == '!') {
    el.negate = true;
    ++i;
  }
  while (i < text.size() && text[i] != ']') {
    const auto c = static_cast<uint8_t>(text[i]);
    const size_t len = Utf8CharLength(text.data() + i, text.size() - i);
    if (len > 1) {
      // A multi-byte character has no place in a one-byte table.
      i += len;
    } else if (c == '-') {
      if (previous < 0) throw InvalidMask(text, static_cast<int>(i) + 1);
      if (i + 1 >= text.size()) throw InvalidMask(text, static_cast<int>(text.size()) + 1);
      const size_t end_len = Utf8CharLength(text.data() + i + 1, text.size() - i - 1);
      if (end_len == 1) {
        const uint8_t end = UpperAscii(static_cast<uint8_t>(text[i + 1]));
        for (int code = previous; code <= end; ++code) {
          AddToSet(members, static_cast<uint8_t>(code));
          any_member = true;
        }
      }
      i += 1 + end_len;
    } else {
      const uint8_t m = UpperAscii(c);
      AddToSet(members, m);
      any_member = true;
      previous = m;
      ++i;
    }
  }
  if (i >= text.size()) throw InvalidMask(text, static_cast<int>(text.size()) + 1);
  if (!any_member) throw InvalidMask(text, static_cast<int>(i) + 1);
  el.set = static_cast<uint32_t>(sets_.size());
  sets_.push_back(members);
  return i;
}

bool TMask::MatchOne(const Element& el, std::string_view name, size_t pos, size_t& after) const {
  if (pos >= name.size()) return false;
  const size_t len = Utf8CharLength(name.data() + pos, name.size() - pos);
  after = pos + len;
  const auto c = static_cast<uint8_t>(name[pos]);
  switch (el.kind) {
    case Kind::kLiteral:
      return len == 1 && UpperAscii(c) == el.bytes[0];
    case Kind::kAnyChar:
      return true;
    case Kind::kSet: {
      const bool member = len == 1 && InSet(sets_[el.set], UpperAscii(c));
      return member != el.negate;
    }
    case Kind::kMultiByte:
      if (len != el.length) return false;
      for (size_t k = 0; k < len; ++k) {
        if (static_cast<uint8_t>(name[pos + k]) != el.bytes[k]) return false;
      }
      return true;
    case Kind::kEnd:
      break;
  }
  return false;
}

bool TMask::Matches(std::string_view name) const {
  // Every element but the end consumes exactly one character, so on a
  // failure only the most recent skip element needs another try, one
  // character further on: the earlier ones could not help. This keeps a
  // match at most proportional to name length times mask length.
  size_t e = 0, pos = 0;
  size_t star_e = elements_.size(), star_pos = 0;
  for (;;) {
    const Element& el = elements_[e];
    if (el.skip && e != star_e) {
      star_e = e;
      star_pos = pos;
    }
    size_t after = pos;
    if (el.kind == Kind::kEnd) {
      if (el.skip || pos == name.size()) return true;
    } else if (MatchOne(el, name, pos, after)) {
      pos = after;
      ++e;
      continue;
    }
    if (star_e == elements_.size() || star_pos >= name.size()) return false;
    star_pos += Utf8CharLength(name.data() + star_pos, name.size() - star_pos);
    e = star_e;
    pos = star_pos;
  }
}

void SplitMasks(std::string_view value, MaskList& list, std::string_view separators) {
  if (value.size() > kMaxMaskValue) value = value.substr(0, kMaxMaskValue);
  size_t start = 0;
  while (start <= value.size()) {
    size_t stop = value.find_first_of(separators, start);
    if (stop == std::string_view::npos) stop = value.size();
    if (stop > start) list.emplace_back(value.substr(start, stop - start));
    start = stop + 1;
  }
}

bool MatchesAnyMask(const MaskList& list, std::string_view name) {
  for (const TMask& mask : list) {
    if (mask.Matches(name)) return true;
  }
  return false;
}

}  // namespace sentrel

#ifndef SENTREL_CORE_MASKS_H_
#define SENTREL_CORE_MASKS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// Raised when a mask text cannot be compiled. what() is the whole message,
// "'<mask>' is an invalid mask at (<position>)", with a 1-based position.
class InvalidMask : public std::runtime_error {
 public:
  InvalidMask(std::string_view mask, int position);
  const std::string& mask() const { return mask_; }
  int position() const { return position_; }

 private:
  std::string mask_;
  int position_;
};

// A compiled file-name mask: "*" for any run of characters, "?" for one
// character, "[...]" for a set with ranges and a leading "!" to negate.
// Only the ASCII letters a-z fold case. A UTF-8 multi-byte sequence counts
// as one character; bytes that do not form a valid sequence count singly.
// Compiled once, then tested against many names.
class TMask {
 public:
  // Throws InvalidMask.
  explicit TMask(std::string_view text);

  bool Matches(std::string_view name) const;

 private:
  enum class Kind : uint8_t { kLiteral, kAnyChar, kSet, kMultiByte, kEnd };
  struct Element {
    Kind kind = Kind::kLiteral;
    // Any run of characters (maybe none) may come before this element.
    bool skip = false;
    bool negate = false;
    // kLiteral: the upper-cased byte. kMultiByte: the sequence and length.
    uint8_t length = 0;
    std::array<uint8_t, 4> bytes{};
    // kSet: index into sets_.
    uint32_t set = 0;
  };
  using Set = std::array<uint64_t, 4>;

  size_t CompileSet(std::string_view text, size_t open, Element& el);
  // Whether `el` (not the end element) matches the character at `pos`;
  // `after` receives the position behind that character.
  bool MatchOne(const Element& el, std::string_view name, size_t pos, size_t& after) const;

  std::vector<Element> elements_;
  std::vector<Set> sets_;
};

// An ordered list of compiled masks.
using MaskList = std::vector<TMask>;

// Compiles every piece of `value` cut at any character of `separators`
// (empty pieces skipped, blanks kept) and appends the masks in order. Only
// the first 4096 characters of `value` are used. On an invalid piece the
// masks before it stay in the list and InvalidMask is thrown.
void SplitMasks(std::string_view value, MaskList& list, std::string_view separators = ";");

// True when any mask of the list matches `name`; an empty list matches
// nothing.
bool MatchesAnyMask(const MaskList& list, std::string_view name);

// The length of the character that starts at `s`: the length of a valid
// UTF-8 multi-byte sequence, else 1. `avail` (at least 1) bounds the read.
size_t Utf8CharLength(const char* s, size_t avail);

}  // namespace sentrel

#endif  // SENTREL_CORE_MASKS_H_

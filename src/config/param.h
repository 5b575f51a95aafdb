#ifndef SENTREL_CONFIG_PARAM_H_
#define SENTREL_CONFIG_PARAM_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "config/diagnostics.h"

namespace sentrel {

// Where a configuration line came from: its line number in the file, and
// where to say what in it was not taken as written. Both optional.
struct LineOrigin {
  int number = 0;
  Diagnostics* notes = nullptr;
};

// A named, typed configuration value that recognises its own "Name=value"
// line of a block.
class Param {
 public:
  explicit Param(std::string name) : name_(std::move(name)) {}
  virtual ~Param() = default;
  Param(const Param&) = delete;
  Param& operator=(const Param&) = delete;

  const std::string& Name() const { return name_; }
  // The line that last set the value; 0 while nothing did.
  int line() const { return line_; }

  // Takes the line (as read, normally ending in a line feed) when it starts
  // with the name, in any letter case, directly followed by "=". The rest,
  // without a final line feed, is the value text. What the value could not
  // take as written is noted at `at`.
  bool ParseLine(std::string_view line, const LineOrigin& at = {});

  void SetText(std::string_view text) { Take(text); }
  // `other` is of the same kind.
  virtual void AssignFrom(const Param& other) = 0;
  virtual void WriteTo(std::FILE* out) const = 0;
  virtual void ResetToDefault() = 0;

 protected:
  // Sets the value from its text; returns what was not taken as written
  // ("Name: ..."), or the empty text when all of it was.
  virtual std::string Take(std::string_view text) = 0;
  void set_line(int line) { line_ = line; }

 private:
  std::string name_;
  int line_ = 0;
};

class BoolParam final : public Param {
 public:
  BoolParam(std::string name, bool def) : Param(std::move(name)), default_(def) {
    ResetToDefault();
  }
  bool Value() const { return value_; }
  void Set(bool v) { value_ = v; }
  void AssignFrom(const Param& other) override;
  void WriteTo(std::FILE* out) const override;
  void ResetToDefault() override { value_ = default_; }

 protected:
  std::string Take(std::string_view text) override;

 private:
  bool value_ = false;
  bool default_;
};

class IntParam final : public Param {
 public:
  IntParam(std::string name, int32_t def, int32_t min, int32_t max)
      : Param(std::move(name)), default_(def), min_(min), max_(max) {
    ResetToDefault();
  }
  int32_t Value() const { return value_; }
  int32_t Minimum() const { return min_; }
  int32_t Maximum() const { return max_; }
  // Stores `v`, or the minimum when `v` lies outside the range.
  void Set(int64_t v);
  void AssignFrom(const Param& other) override;
  void WriteTo(std::FILE* out) const override;
  void ResetToDefault() override { value_ = default_; }

 protected:
  std::string Take(std::string_view text) override;

 private:
  int32_t value_ = 0;
  int32_t default_, min_, max_;
};

class StringParam final : public Param {
 public:
  StringParam(std::string name, std::string def, int min_length = 0)
      : Param(std::move(name)), default_(std::move(def)), min_length_(min_length) {
    ResetToDefault();
  }
  const std::string& Value() const { return value_; }
  int MinLength() const { return min_length_; }
  void AssignFrom(const Param& other) override;
  void WriteTo(std::FILE* out) const override;
  void ResetToDefault() override { SetText(default_); }

 protected:
  std::string Take(std::string_view text) override;

 private:
  std::string value_;
  std::string default_;
  int min_length_;
};

class StringListParam final : public Param {
 public:
  explicit StringListParam(std::string name) : Param(std::move(name)) {}
  const std::vector<std::string>& Items() const { return items_; }
  std::vector<std::string>& MutableItems() { return items_; }
  // The line of each entry (0 for one not read from a file).
  const std::vector<int>& ItemLines() const { return item_lines_; }
  // Removes entry `i` and its line.
  void RemoveAt(size_t i);
  void AssignFrom(const Param& other) override;
  void WriteTo(std::FILE* out) const override;
  void ResetToDefault() override {
    items_.clear();
    item_lines_.clear();
  }

 protected:
  std::string Take(std::string_view text) override;

 private:
  std::vector<std::string> items_;
  std::vector<int> item_lines_;
};

// An ordered list of values that a block's lines are offered to. The list
// does not own the values; their owner keeps them alive.
using ParamList = std::vector<Param*>;

// Gives the line to the first value of the list that takes it.
bool OfferLine(const ParamList& params, std::string_view line, const LineOrigin& at = {});

// The C library's atoi: blanks, one sign, decimal digits; wraps in 32 bits.
int32_t AtoiLikeC(std::string_view text);

}  // namespace sentrel

#endif  // SENTREL_CONFIG_PARAM_H_

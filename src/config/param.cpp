#include "config/param.h"

#include "shell/text_util.h"

namespace sentrel {

namespace {

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

bool IsAtoiBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

bool Param::ParseLine(std::string_view line, const LineOrigin& at) {
  const size_t n = name_.size();
  // The line followed by "=" must begin with the name followed by "=": so a
  // bare name without a line feed matches, with an empty value.
  if (line.size() < n) return false;
  if (!EqualsIgnoreCase(line.substr(0, n), name_)) return false;
  if (line.size() > n && line[n] != '=') return false;
  std::string_view text = line.size() > n + 1 ? line.substr(n + 1) : std::string_view();
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  line_ = at.number;
  std::string remark = Take(text);
  if (!remark.empty() && at.notes != nullptr) at.notes->Warn(at.number, std::move(remark));
  return true;
}

std::string BoolParam::Take(std::string_view text) {
  value_ = text == "1" || EqualsIgnoreCase(text, "true");
  if (value_ || text == "0" || EqualsIgnoreCase(text, "false")) return std::string();
  if (text.empty()) return Name() + ": no value; taken as 0";
  return Name() + ": " + Quoted(text) + " is not 1, 0, true or false; taken as 0";
}

void BoolParam::AssignFrom(const Param& other) {
  set_line(other.line());
  value_ = static_cast<const BoolParam&>(other).value_;
}

void BoolParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%d\n", Name().c_str(), value_ ? 1 : 0);
}

int32_t AtoiLikeC(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsAtoiBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  uint32_t acc = 0;  // unsigned so that the wrap-around is defined
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    acc = acc * 10u + static_cast<uint32_t>(text[i] - '0');
    ++i;
  }
  if (negative) acc = 0u - acc;
  return static_cast<int32_t>(acc);
}

void IntParam::Set(int64_t v) {
  value_ = (v < min_ || v > max_) ? min_ : static_cast<int32_t>(v);
}

std::string IntParam::Take(std::string_view text) {
  const int32_t read = AtoiLikeC(text);
  Set(read);
  // The same walk as the conversion, to tell what it passed over.
  size_t i = 0;
  while (i < text.size() && IsAtoiBlank(text[i])) ++i;
  const bool negative = i < text.size() && text[i] == '-';
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  const size_t digits_from = i;
  int64_t exact = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (exact <= INT64_C(1) << 40) exact = exact * 10 + (text[i] - '0');
    ++i;
  }
  if (negative) exact = -exact;
  size_t rest = i;
  while (rest < text.size() && IsAtoiBlank(text[rest])) ++rest;

  const std::string taken = "; taken as " + std::to_string(value_);
  if (text.empty()) return Name() + ": no value" + taken;
  if (i == digits_from) return Name() + ": " + Quoted(text) + " is not a number" + taken;
  if (exact != read) return Name() + ": " + Quoted(text) + " is too large" + taken;
  if (read != value_) {
    return Name() + ": " + std::to_string(read) + " is outside " + std::to_string(min_) + " to " +
           std::to_string(max_) + taken;
  }
  if (rest < text.size()) {
    return Name() + ": " + Quoted(text) + " has text after the number" + taken;
  }
  return std::string();
}

void IntParam::AssignFrom(const Param& other) {
  set_line(other.line());
  Set(static_cast<const IntParam&>(other).value_);
}

void IntParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%d\n", Name().c_str(), value_);
}

std::string StringParam::Take(std::string_view text) {
  value_.assign(text);
  // A short value is lengthened with a filler that is never "1", so flag
  // strings such as "Days" forbid what they do not name.
  if (min_length_ > 0 && value_.size() < static_cast<size_t>(min_length_)) {
    value_.resize(static_cast<size_t>(min_length_), '0');
    return Name() + ": " + Quoted(text) + " has " + std::to_string(text.size()) +
           " characters, fewer than " + std::to_string(min_length_) + "; taken as " +
           Quoted(value_);
  }
  return std::string();
}

void StringParam::AssignFrom(const Param& other) {
  SetText(static_cast<const StringParam&>(other).value_);
}

void StringParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%s\n", Name().c_str(), value_.c_str());
}

std::string StringListParam::Take(std::string_view text) {
  items_.emplace_back(text);
  item_lines_.push_back(line());
  return std::string();
}

void StringListParam::RemoveAt(size_t i) {
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
  item_lines_.erase(item_lines_.begin() + static_cast<std::ptrdiff_t>(i));
}

void StringListParam::AssignFrom(const Param& other) {
  items_ = static_cast<const StringListParam&>(other).items_;
  item_lines_ = static_cast<const StringListParam&>(other).item_lines_;
}

void StringListParam::WriteTo(std::FILE* out) const {
  for (const std::string& item : items_) {
    std::fprintf(out, "%s=%s\n", Name().c_str(), item.c_str());
  }
}

bool OfferLine(const ParamList& params, std::string_view line, const LineOrigin& at) {
  for (Param* p : params) {
    if (p->ParseLine(line, at)) return true;
  }
  return false;
}

}  // namespace sentrel

#include "config/param.h"

#include "shell/text_util.h"

namespace sentrel {

bool Param::ParseLine(std::string_view line) {
  const size_t n = name_.size();
  // The line followed by "=" must begin with the name followed by "=": so a
  // bare name without a line feed matches, with an empty value.
  if (line.size() < n) return false;
  if (!EqualsIgnoreCase(line.substr(0, n), name_)) return false;
  if (line.size() > n && line[n] != '=') return false;
  std::string_view text = line.size() > n + 1 ? line.substr(n + 1) : std::string_view();
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  SetText(text);
  return true;
}

void BoolParam::SetText(std::string_view text) {
  value_ = text == "1" || EqualsIgnoreCase(text, "true");
}

void BoolParam::AssignFrom(const Param& other) {
  value_ = static_cast<const BoolParam&>(other).value_;
}

void BoolParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%d\n", Name().c_str(), value_ ? 1 : 0);
}

int32_t AtoiLikeC(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
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

void IntParam::SetText(std::string_view text) { Set(AtoiLikeC(text)); }

void IntParam::AssignFrom(const Param& other) {
  Set(static_cast<const IntParam&>(other).value_);
}

void IntParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%d\n", Name().c_str(), value_);
}

void StringParam::SetText(std::string_view text) {
  value_.assign(text);
  // A short value is lengthened with a filler that is never "1", so flag
  // strings such as "Days" forbid what they do not name.
  if (min_length_ > 0 && value_.size() < static_cast<size_t>(min_length_)) {
    value_.resize(static_cast<size_t>(min_length_), '0');
  }
}

void StringParam::AssignFrom(const Param& other) {
  SetText(static_cast<const StringParam&>(other).value_);
}

void StringParam::WriteTo(std::FILE* out) const {
  std::fprintf(out, "%s=%s\n", Name().c_str(), value_.c_str());
}

void StringListParam::AssignFrom(const Param& other) {
  items_ = static_cast<const StringListParam&>(other).items_;
}

void StringListParam::WriteTo(std::FILE* out) const {
  for (const std::string& item : items_) {
    std::fprintf(out, "%s=%s\n", Name().c_str(), item.c_str());
  }
}

bool OfferLine(const ParamList& params, std::string_view line) {
  for (Param* p : params) {
    if (p->ParseLine(line)) return true;
  }
  return false;
}

}  // namespace sentrel

#include "config/diagnostics.h"

#include <algorithm>
#include <cstdint>

namespace sentrel {

void Diagnostics::Add(int line, Diagnostic::Severity severity, std::string message) {
  if (!seen_.insert(std::to_string(line) + ":" + message).second) return;
  ++total_;
  if (list_.size() < kKept) list_.push_back({line, severity, std::move(message)});
}

void Diagnostics::Clear() {
  list_.clear();
  seen_.clear();
  total_ = 0;
}

std::vector<Diagnostic> Diagnostics::Sorted() const {
  std::vector<Diagnostic> out = list_;
  auto key = [](const Diagnostic& d) { return d.line > 0 ? d.line : INT32_MAX; };
  std::stable_sort(out.begin(), out.end(),
                   [&](const Diagnostic& a, const Diagnostic& b) { return key(a) < key(b); });
  return out;
}

std::string FormatDiagnostic(std::string_view file, const Diagnostic& d) {
  std::string out(file);
  if (d.line > 0) out += ":" + std::to_string(d.line);
  out += d.severity == Diagnostic::Severity::kError ? ": error: " : ": warning: ";
  out += d.message;
  return out;
}

}  // namespace sentrel

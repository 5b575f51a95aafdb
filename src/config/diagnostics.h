#ifndef SENTREL_CONFIG_DIAGNOSTICS_H_
#define SENTREL_CONFIG_DIAGNOSTICS_H_

#include <string>
#include <string_view>
#include <vector>

namespace sentrel {

// One thing a configuration file says that the program did not take as
// written. `line` is 1-based; 0 stands for the file as a whole.
struct Diagnostic {
  enum class Severity { kWarning, kError };
  int line = 0;
  Severity severity = Severity::kWarning;
  std::string message;
};

// What the loader, the values and the items noticed while a configuration
// was read. Only the loading thread writes it.
class Diagnostics {
 public:
  void Warn(int line, std::string message) { Add(line, Diagnostic::Severity::kWarning, std::move(message)); }
  void Error(int line, std::string message) { Add(line, Diagnostic::Severity::kError, std::move(message)); }
  // A line may be read twice (the older action form offers every line once
  // more); the same remark on the same line is kept once.
  void Add(int line, Diagnostic::Severity severity, std::string message);

  // In line order; remarks on the whole file come last.
  std::vector<Diagnostic> Sorted() const;
  bool empty() const { return list_.empty(); }
  size_t size() const { return list_.size(); }
  void Clear() { list_.clear(); }

 private:
  std::vector<Diagnostic> list_;
};

// "FILE:LINE: warning: message", or "FILE: error: message" for the whole
// file: the form that editors and build logs link to the line.
std::string FormatDiagnostic(std::string_view file, const Diagnostic& d);

}  // namespace sentrel

#endif  // SENTREL_CONFIG_DIAGNOSTICS_H_

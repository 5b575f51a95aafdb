#ifndef SENTREL_CONFIG_DIAGNOSTICS_H_
#define SENTREL_CONFIG_DIAGNOSTICS_H_

#include <string>
#include <string_view>
#include <unordered_set>
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

  // In line order; remarks on the whole file come last. A file that is not
  // a configuration at all can hold a remark on every line: only the first
  // kKept are kept, and size() still counts them all.
  std::vector<Diagnostic> Sorted() const;
  bool empty() const { return total_ == 0; }
  size_t size() const { return total_; }
  void Clear();

  static constexpr size_t kKept = 10000;

 private:
  std::vector<Diagnostic> list_;
  std::unordered_set<std::string> seen_;  // line and message of each remark
  size_t total_ = 0;
};

// "FILE:LINE: warning: message", or "FILE: error: message" for the whole
// file: the form that editors and build logs link to the line.
std::string FormatDiagnostic(std::string_view file, const Diagnostic& d);

}  // namespace sentrel

#endif  // SENTREL_CONFIG_DIAGNOSTICS_H_

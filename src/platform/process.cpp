// The parts of starting programs that are the same on every platform.
#include "platform/process.h"

namespace sentrel {

SpawnedProcess::SpawnedProcess(SpawnedProcess&& other) noexcept
    : pid_(other.pid_), native_(other.native_), exit_status_(other.exit_status_) {
  other.pid_ = -1;
  other.native_ = -1;
}

SpawnedProcess& SpawnedProcess::operator=(SpawnedProcess&& other) noexcept {
  if (this != &other) {
    Detach();
    pid_ = other.pid_;
    native_ = other.native_;
    exit_status_ = other.exit_status_;
    other.pid_ = -1;
    other.native_ = -1;
  }
  return *this;
}

SpawnedProcess::~SpawnedProcess() { Detach(); }

std::vector<std::string> SplitArguments(std::string_view text) {
  return SplitArguments(text, std::vector<bool>());
}

std::string ExpandEnvironmentReferences(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    const std::string name(text.substr(open + 1, close - open - 1));
    const std::optional<std::string> value = EnvironmentVariable(name);
    if (value) {
      out.append(*value);
      i = close + 1;
    } else {
      // Not a reference: keep the "%" and look for one from the next "%" on,
      // so that "100%%HOME%" still finds HOME.
      out.append(text.substr(open, close - open));
      i = close;
    }
  }
  out.append(text.substr(i));
  return out;
}

}  // namespace sentrel

#include <stdlib.h>

#include "environment.h"
#include "platform/wide_win32.h"

namespace sentrel {

// The C runtime's copy and the system's both change, so that getenv and
// started programs agree.
void SetEnvironment(const std::string& name, const std::string& value) {
  _wputenv_s(Widen(name).c_str(), Widen(value).c_str());
  SetEnvironmentVariableW(Widen(name).c_str(), Widen(value).c_str());
}

void UnsetEnvironment(const std::string& name) {
  _wputenv_s(Widen(name).c_str(), L"");
  SetEnvironmentVariableW(Widen(name).c_str(), nullptr);
}

}  // namespace sentrel

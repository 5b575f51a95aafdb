#ifndef SENTREL_SHELL_APP_H_
#define SENTREL_SHELL_APP_H_

#include <string>
#include <vector>

#include "version.h"

namespace sentrel {

inline constexpr char kProgramName[] = "Sentrel";
inline constexpr char kProgramVersion[] = SENTREL_VERSION;

// The console program: banner, settings, language, configuration, the wait
// for the exit key, the orderly stop. Returns the exit code.
int RunConsoleProgram(const std::vector<std::string>& args);

// Text 50 with `path` in place of its first "%s"; every other "%" is written
// as it stands, so no language file can make the text a format.
std::string InsertPath(const std::string& text, const std::string& path);

}  // namespace sentrel

#endif  // SENTREL_SHELL_APP_H_

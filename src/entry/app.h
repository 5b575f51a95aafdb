#ifndef SENTREL_ENTRY_APP_H_
#define SENTREL_ENTRY_APP_H_

#include <string>
#include <vector>

namespace sentrel {

inline constexpr char kProgramName[] = "Sentrel";
// The build gives the project's version, so that it is written in one place.
inline constexpr char kProgramVersion[] = SENTREL_VERSION;

// The console program: the command line, then either the configuration
// check or the monitoring (banner, settings, language, configuration, the
// wait for the exit key, the orderly stop). Returns the exit code.
int RunConsoleProgram(const std::vector<std::string>& args);

}  // namespace sentrel

#endif  // SENTREL_ENTRY_APP_H_

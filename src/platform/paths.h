#ifndef SENTREL_PLATFORM_PATHS_H_
#define SENTREL_PLATFORM_PATHS_H_

#include <string>

namespace sentrel {

// The full path of the running executable, or the empty text if unknown.
std::string ProgramPath();

// The process's current directory, without a trailing separator (except "/").
std::string CurrentDirectory();

// The path of the file `name` in `folder` (which ends in a separator): as
// written when it exists, else the first entry whose last part is the same
// ignoring ASCII case ("english.lng" for "English.lng"), else as written.
// A system whose file names ignore case finds it as written.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// The per-user configuration folder: $XDG_CONFIG_HOME, else ~/.config.
std::string UserConfigHome();

// The per-user data folder: $XDG_DATA_HOME, else ~/.local/share.
std::string UserDataHome();

// The folders of an installed Sentrel, without a trailing separator:
// the user's own settings and configuration ($XDG_CONFIG_HOME/sentrel), the
// machine's (/etc/sentrel), and the files the installation shares
// (<prefix>/share/sentrel, found from where the executable is, so that an
// installed tree may be moved). Empty when unknown.
std::string UserConfigFolder();
std::string SystemConfigFolder();
std::string SharedDataFolder();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_PATHS_H_

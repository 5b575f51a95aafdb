#ifndef SENTREL_PLATFORM_PATHS_H_
#define SENTREL_PLATFORM_PATHS_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace sentrel {

// The separator this platform writes between the pieces of a path: "\" on
// Windows, "/" elsewhere.
extern const char kPathSeparator;

// Whether `c` separates the pieces of a path here. "/" does everywhere; on
// Windows "\" does too, so that paths typed either way work.
bool IsPathSeparator(char c);

// Where the last separator of `path` is; npos without one.
size_t FindLastSeparator(std::string_view path);

// `path` with this platform's separator wherever a separator is written.
std::string NativeSeparators(std::string_view path);

// How long the root at the start of `path` is: 1 for "/"; on Windows 3 for
// "C:\", 2 for "C:", and "\\server\share\" whole. 0 for a relative path.
size_t PathRootLength(std::string_view path);

// Whether `path` starts at a root rather than below the current folder:
// "/..." on Linux; "C:\...", "\\server\share\...", the "\\?\" forms and
// "\..." (the current drive's root) on Windows.
bool IsAbsolutePath(std::string_view path);

// The full path of the running executable, or the empty text if unknown.
std::string ProgramPath();

// The process's current directory, without a trailing separator (except at
// the root, "/" or "C:\").
std::string CurrentDirectory();

// The path of the file `name` in `folder` (which ends in a separator): as
// written when it exists, else the first entry whose last part is the same
// ignoring ASCII case ("english.lng" for "English.lng"), else as written.
// A system whose file names ignore case finds it as written.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& name);

// The per-user configuration folder: $XDG_CONFIG_HOME, else ~/.config; on
// Windows the roaming application data folder.
std::string UserConfigHome();

// The per-user data folder: $XDG_DATA_HOME, else ~/.local/share; on Windows
// the local application data folder.
std::string UserDataHome();

// Opens a file as fopen does: UTF-8 names, paths of any length; on Windows
// "CON" opened for writing is the program's standard output.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Opens a log to append lines to, written with "\n" and ending as the
// system's text files do (CR LF on Windows). Others may read it, and rename
// or delete it while it is open, so that a rotation tool can move it away.
std::FILE* OpenLogStream(const std::string& path);

// Whether `path` names the console device ("CON" on Windows; nothing on
// Linux, where a console is a file like any other).
bool NamesConsole(const std::string& path);

// The per-user folder for state kept across runs: $XDG_STATE_HOME, else
// ~/.local/state; on Windows the local application data folder.
std::string UserStateHome();
// Where Sentrel keeps its state across runs, without a trailing separator:
// UserStateHome()/sentrel; on Windows %LOCALAPPDATA%\Sentrel\state.
std::string UserStateFolder();

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

#ifndef SENTREL_SHELL_SEARCH_PATHS_H_
#define SENTREL_SHELL_SEARCH_PATHS_H_

#include <string>
#include <vector>

namespace sentrel {

// The folders where Sentrel looks for the files it needs but was not given,
// with or without a trailing separator. An empty folder is left out of the
// search, except the program's own, which then stands for the current one.
struct SearchPlaces {
  std::string program;  // the executable's own folder
  std::string user;     // the user's configuration folder
  std::string system;   // the machine's configuration folder
  std::string shared;   // the installation's shared files
};

// The places of this installation and this user.
SearchPlaces InstalledPlaces();

// The configuration used when none is named, in the order looked at:
// "default.mon" beside the executable (so an unpacked build keeps working
// as it is), then the user's, the machine's, and the one installed with
// the program.
std::vector<std::string> DefaultConfigCandidates(const SearchPlaces& places);

// The first of those that is a file; without one, the first of all, so that
// the message about it names the place an unpacked build would use.
std::string ChooseDefaultConfig(const SearchPlaces& places);

// Whether any of those is a file.
bool DefaultConfigFound(const SearchPlaces& places);

// The folders that may hold language files, in the order looked at: "Lang"
// beside the executable, then the installed one. Each ends in a separator.
std::vector<std::string> LangFolderCandidates(const SearchPlaces& places);

// The first of those folders that holds `file_name` (its letters in any case,
// as the language holder finds it); without one, the first.
std::string ChooseLangFolder(const SearchPlaces& places, const std::string& file_name);

}  // namespace sentrel

#endif  // SENTREL_SHELL_SEARCH_PATHS_H_

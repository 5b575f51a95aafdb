#ifndef SENTREL_CONFIG_PATH_REMARKS_H_
#define SENTREL_CONFIG_PATH_REMARKS_H_

#include <string>
#include <string_view>

namespace sentrel {

// Paths in a configuration are used as written. What a user may expect of
// one that does not happen, for the remarks on a loaded configuration.

// Whether `path` begins with "~", which no shell expands here.
bool StartsWithTilde(std::string_view path);

// " (environment references such as $HOME are not expanded here)" when
// `path` seems to hold one; empty otherwise.
std::string EnvironmentHint(std::string_view path);

// Whether `folder` is an existing folder; the empty text is the current one.
bool FolderExists(const std::string& folder);

// Empty for an existing folder; else what keeps it from being used, to
// follow its name: "does not exist", or "cannot be read: permission denied"
// when a folder on its way may not be searched (it may well exist).
std::string FolderTrouble(const std::string& folder);

}  // namespace sentrel

#endif  // SENTREL_CONFIG_PATH_REMARKS_H_

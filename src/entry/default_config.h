#ifndef SENTREL_ENTRY_DEFAULT_CONFIG_H_
#define SENTREL_ENTRY_DEFAULT_CONFIG_H_

#include <string>
#include <vector>

namespace sentrel {

// Where a start without a configuration argument looks for one, in this
// order, for the program at `program_path`. The help names the same places.
std::vector<std::string> DefaultConfigurationPlaces(const std::string& program_path);

// The first of `places` that exists; the first of them when none does (its
// name is then the one the failure message shows).
std::string ChooseDefaultConfiguration(const std::vector<std::string>& places);

}  // namespace sentrel

#endif  // SENTREL_ENTRY_DEFAULT_CONFIG_H_

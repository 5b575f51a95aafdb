#ifndef SENTREL_TESTS_HIDDEN_FOLDER_H_
#define SENTREL_TESTS_HIDDEN_FOLDER_H_

#include <string>

namespace sentrel {

// Makes a folder in `parent` that the system counts as hidden: a dot-name
// on Linux, the hidden attribute on Windows. Returns its name.
std::string MakeHiddenFolder(const std::string& parent, const std::string& name);

}  // namespace sentrel

#endif  // SENTREL_TESTS_HIDDEN_FOLDER_H_

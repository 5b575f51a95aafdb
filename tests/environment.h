#ifndef SENTREL_TESTS_ENVIRONMENT_H_
#define SENTREL_TESTS_ENVIRONMENT_H_

#include <string>

namespace sentrel {

// Sets or removes a variable of this process's environment, where the
// programs it starts and the platform's own lookups see it.
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

}  // namespace sentrel

#endif  // SENTREL_TESTS_ENVIRONMENT_H_

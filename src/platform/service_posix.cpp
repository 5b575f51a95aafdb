#include "platform/service.h"

namespace sentrel {

bool ServiceManagerHere() { return false; }

ServiceOutcome RunAsService(const std::function<int(std::unique_ptr<ConsoleInput>)>&, int&,
                            std::string&) {
  return ServiceOutcome::kNotHere;
}
ServiceOutcome InstallService(const std::vector<std::string>&, std::string&) {
  return ServiceOutcome::kNotHere;
}
ServiceOutcome RemoveService(std::string&) { return ServiceOutcome::kNotHere; }
std::string ServiceLogPath() { return std::string(); }

}  // namespace sentrel

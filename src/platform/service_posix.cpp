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
void ReportServiceRunning() {}
ServiceOutcome PauseService(std::string&) { return ServiceOutcome::kNotHere; }
ServiceOutcome ResumeService(std::string&) { return ServiceOutcome::kNotHere; }
bool RegisteredServiceArguments(std::vector<std::string>&) { return false; }
void WriteSystemEvent(EventKind, const std::string&) {}
std::string ServiceLogPath() { return std::string(); }

}  // namespace sentrel

#ifndef SENTREL_PLATFORM_SERVICE_H_
#define SENTREL_PLATFORM_SERVICE_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/console_input.h"

namespace sentrel {

// Sentrel as a Windows service, named "Sentrel". Elsewhere every call says
// kNotHere: Linux runs it as a systemd unit instead.

enum class ServiceOutcome { kDone, kFailed, kNotHere };

// Whether this system has the service manager the calls below talk to.
bool ServiceManagerHere();

// Hands the calling thread to the service manager, which starts `body` as
// the service. `body` gets the input whose WaitKey returns kStop when the
// manager asks the service to stop (or the system shuts down), and returns
// the exit code. kFailed (with the reason) when the program was not started
// by the manager.
ServiceOutcome RunAsService(const std::function<int(std::unique_ptr<ConsoleInput>)>& body,
                            int& code, std::string& error);

// Registers the service to start `arguments` (after the program's own
// path) at boot, restarting it when it fails.
ServiceOutcome InstallService(const std::vector<std::string>& arguments, std::string& error);
// Stops the service if it runs, and unregisters it.
ServiceOutcome RemoveService(std::string& error);

// Where the service writes its log by default: %ProgramData%\Sentrel\sentrel.log.
std::string ServiceLogPath();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SERVICE_H_

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

// Tells the manager that the service under RunAsService now runs: until
// then a start that ends is a failed start, with the body's exit code.
// Does nothing outside a service.
void ReportServiceRunning();

// Registers the service to start `arguments` (after the program's own
// path) at boot, restarting it when it fails, and the event source of its
// Application log entries (kDone without it, with `error` saying why).
ServiceOutcome InstallService(const std::vector<std::string>& arguments, std::string& error);
// Stops the service if it runs, and unregisters it and its event source.
ServiceOutcome RemoveService(std::string& error);

// For an installer replacing the program's files: PauseService notes the
// pause, stopping the service if it runs; ResumeService ends the pause,
// starting the service again if the pause stopped it. Both do nothing when
// no service is registered.
ServiceOutcome PauseService(std::string& error);
ServiceOutcome ResumeService(std::string& error);

// The arguments the registered service is started with (after the
// program's path); false when no service is registered.
bool RegisteredServiceArguments(std::vector<std::string>& arguments);

enum class EventKind { kInformation, kWarning, kError };
// Adds `text` to the system's event log (Windows: the Application log,
// source "Sentrel"). Nothing elsewhere.
void WriteSystemEvent(EventKind kind, const std::string& text);

// Where the service writes its log by default: %ProgramData%\Sentrel\sentrel.log.
std::string ServiceLogPath();

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_SERVICE_H_

#include <windows.h>

#include <atomic>

#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/service.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

constexpr wchar_t kServiceName[] = L"Sentrel";
constexpr wchar_t kDisplayName[] = L"Sentrel file and folder monitor";
constexpr wchar_t kDescription[] =
    L"Watches the folders and files its configuration lists and runs their actions.";
// What the manager is told a stop may take: the running actions finish and
// the items' states are saved first.
constexpr DWORD kStopWaitHintMs = 15000;

// The one service of this process: what the manager's thread and the
// service's own thread share.
struct ServiceState {
  const std::function<int(std::unique_ptr<ConsoleInput>)>* body = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  HANDLE stop_event = nullptr;
  std::atomic<bool> stopping{false};
  int code = 0;
} state;

void Report(DWORD current, DWORD exit_code = NO_ERROR, DWORD wait_hint = 0) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = current;
  status.dwControlsAccepted =
      current == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exit_code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  status.dwServiceSpecificExitCode = exit_code;
  status.dwWaitHint = wait_hint;
  static DWORD checkpoint = 1;
  status.dwCheckPoint =
      current == SERVICE_RUNNING || current == SERVICE_STOPPED ? 0 : checkpoint++;
  SetServiceStatus(state.handle, &status);
}

DWORD WINAPI Control(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      if (!state.stopping.exchange(true)) {
        Report(SERVICE_STOP_PENDING, 0, kStopWaitHintMs);
        SetEvent(state.stop_event);
      }
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The manager's stop request, seen where the console program waits for "x".
class ServiceStopInput final : public ConsoleInput {
 public:
  int WaitKey() override {
    WaitForSingleObject(state.stop_event, INFINITE);
    return kStop;
  }
};

void WINAPI ServiceMain(DWORD, wchar_t**) {
  state.handle = RegisterServiceCtrlHandlerExW(kServiceName, &Control, nullptr);
  if (state.handle == nullptr) return;
  Report(SERVICE_START_PENDING, 0, 5000);
  Report(SERVICE_RUNNING);
  state.code = (*state.body)(std::make_unique<ServiceStopInput>());
  Report(SERVICE_STOPPED, static_cast<DWORD>(state.code));
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

class ServiceManager {
 public:
  explicit ServiceManager(DWORD access) : scm_(OpenSCManagerW(nullptr, nullptr, access)) {}
  ~ServiceManager() {
    if (scm_ != nullptr) CloseServiceHandle(scm_);
  }
  SC_HANDLE get() const { return scm_; }

 private:
  SC_HANDLE scm_;
};

std::string WhyNot(const char* what) {
  const DWORD e = GetLastError();
  std::string text = std::string(what) + ": " + SystemErrorText(e);
  if (e == ERROR_ACCESS_DENIED) text += " (run it from an administrator's prompt)";
  return text;
}

}  // namespace

bool ServiceManagerHere() { return true; }

ServiceOutcome RunAsService(const std::function<int(std::unique_ptr<ConsoleInput>)>& body,
                            int& code, std::string& error) {
  state.body = &body;
  state.stop_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), &ServiceMain},
                                  {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    error = GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                ? "--service is for the service manager to start; from a console, start the "
                  "service (net start Sentrel) or run Sentrel without --service"
                : WhyNot("cannot reach the service manager");
    return ServiceOutcome::kFailed;
  }
  code = state.code;
  return ServiceOutcome::kDone;
}

ServiceOutcome InstallService(const std::vector<std::string>& arguments, std::string& error) {
  std::vector<std::string> argv = {ProgramPath()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  // The program's own path quoted, so that "C:\Program Files" is one name.
  std::wstring command = Quoted(Widen(argv[0]));
  argv.erase(argv.begin());
  if (!argv.empty()) {
    argv.insert(argv.begin(), "x");
    command += CommandLineOf(argv).substr(1);
  }
  ServiceManager scm(SC_MANAGER_CREATE_SERVICE);
  if (scm.get() == nullptr) {
    error = WhyNot("cannot open the service manager");
    return ServiceOutcome::kFailed;
  }
  SC_HANDLE service = CreateServiceW(scm.get(), kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                     SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                     SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                     nullptr, nullptr, nullptr);
  if (service == nullptr) {
    error = GetLastError() == ERROR_SERVICE_EXISTS
                ? "the Sentrel service is registered already (--remove-service first)"
                : WhyNot("cannot register the service");
    return ServiceOutcome::kFailed;
  }
  SERVICE_DESCRIPTIONW description = {const_cast<wchar_t*>(kDescription)};
  ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
  // Started again a minute after a failure, three times a day at most.
  SC_ACTION restart[3] = {{SC_ACTION_RESTART, 60000}, {SC_ACTION_RESTART, 60000},
                          {SC_ACTION_NONE, 0}};
  SERVICE_FAILURE_ACTIONSW failure = {};
  failure.dwResetPeriod = 86400;
  failure.cActions = 3;
  failure.lpsaActions = restart;
  ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
  CloseServiceHandle(service);
  return ServiceOutcome::kDone;
}

ServiceOutcome RemoveService(std::string& error) {
  ServiceManager scm(SC_MANAGER_CONNECT);
  if (scm.get() == nullptr) {
    error = WhyNot("cannot open the service manager");
    return ServiceOutcome::kFailed;
  }
  SC_HANDLE service = OpenServiceW(scm.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (service == nullptr) {
    error = GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
                ? "no Sentrel service is registered"
                : WhyNot("cannot open the Sentrel service");
    return ServiceOutcome::kFailed;
  }
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    // The orderly stop: running actions finish, states are saved.
    for (int i = 0; i < 300 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      Sleep(100);
      if (!QueryServiceStatus(service, &status)) break;
    }
  }
  const bool deleted = DeleteService(service);
  if (!deleted) error = WhyNot("cannot unregister the service");
  CloseServiceHandle(service);
  return deleted ? ServiceOutcome::kDone : ServiceOutcome::kFailed;
}

std::string ServiceLogPath() {
  const std::string folder = SystemConfigFolder();
  return folder.empty() ? folder : folder + "\\sentrel.log";
}

}  // namespace sentrel

#include <windows.h>

#include <shellapi.h>

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
// What a start may take: the configuration is read and every item started
// before the service says it runs.
constexpr DWORD kStartWaitHintMs = 30000;
constexpr wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\Sentrel";
// Set by a pause (1: the service ran), beside the service's own settings so
// that it goes with the service. An installer reads it too: while it is
// there, an upgrade is under way and the older product's removal leaves the
// service.
constexpr wchar_t kPausedValue[] = L"Paused";
constexpr wchar_t kEventSourceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Sentrel";

// The one service of this process: what the manager's thread and the
// service's own thread share.
struct ServiceState {
  const std::function<int(std::unique_ptr<ConsoleInput>)>* body = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  HANDLE stop_event = nullptr;
  std::atomic<bool> stopping{false};
  std::atomic<bool> running{false};
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
  // Running is said once the body has started monitoring: a start that
  // fails before that is a failed start, with the body's exit code.
  Report(SERVICE_START_PENDING, 0, kStartWaitHintMs);
  state.code = (*state.body)(std::make_unique<ServiceStopInput>());
  Report(SERVICE_STOPPED, static_cast<DWORD>(state.code));
}

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

// Asks the service to stop and waits for its orderly stop: running actions
// finish, states are saved.
void StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS running = {};
  DWORD size = 0;
  HANDLE process = nullptr;
  // The process, so that its files are free once the call returns: it says
  // "stopped" a moment before it ends.
  if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&running),
                           sizeof running, &size) &&
      running.dwProcessId != 0) {
    process = OpenProcess(SYNCHRONIZE, FALSE, running.dwProcessId);
  }
  SERVICE_STATUS status = {};
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    for (int i = 0; i < 300 && status.dwCurrentState != SERVICE_STOPPED; ++i) {
      Sleep(100);
      if (!QueryServiceStatus(service, &status)) break;
    }
    if (process != nullptr) WaitForSingleObject(process, 10000);
  }
  if (process != nullptr) CloseHandle(process);
}

// The Application log's entries name the program as their source, with the
// message file Event Viewer reads their text from.
bool RegisterOurEventSource(std::string& error) {
  HKEY key = nullptr;
  LSTATUS r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr);
  if (r == ERROR_SUCCESS) {
    const std::wstring file = Widen(ProgramPath());
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    r = RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                       reinterpret_cast<const BYTE*>(file.c_str()),
                       static_cast<DWORD>((file.size() + 1) * sizeof(wchar_t)));
    if (r == ERROR_SUCCESS) {
      r = RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD,
                         reinterpret_cast<const BYTE*>(&types), sizeof types);
    }
    RegCloseKey(key);
  }
  if (r != ERROR_SUCCESS) error = "cannot register the event source: " + SystemErrorText(r);
  return r == ERROR_SUCCESS;
}

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

// The message file's entries: each says its one string as it is.
DWORD EventIdOf(EventKind kind) {
  return kind == EventKind::kError ? 3 : kind == EventKind::kWarning ? 2 : 1;
}

std::string WhyNot(const char* what) {
  const DWORD e = GetLastError();
  std::string text = std::string(what) + ": " + SystemErrorText(e);
  if (e == ERROR_ACCESS_DENIED) text += " (run it from an administrator's prompt)";
  return text;
}

}  // namespace

bool ServiceManagerHere() { return true; }

void ReportServiceRunning() {
  if (state.handle == nullptr || state.running.exchange(true)) return;
  Report(SERVICE_RUNNING);
}

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
  // Without its source the service still runs; its entries then read badly,
  // which `error` says.
  RegisterOurEventSource(error);
  return ServiceOutcome::kDone;
}

ServiceOutcome RemoveService(std::string& error) {
  ServiceManager scm(SC_MANAGER_CONNECT);
  if (scm.get() == nullptr) {
    error = WhyNot("cannot open the service manager");
    return ServiceOutcome::kFailed;
  }
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey);
  SC_HANDLE service = OpenServiceW(scm.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE);
  if (service == nullptr) {
    error = GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST
                ? "no Sentrel service is registered"
                : WhyNot("cannot open the Sentrel service");
    return ServiceOutcome::kFailed;
  }
  StopAndWait(service);
  const bool deleted = DeleteService(service);
  if (!deleted) error = WhyNot("cannot unregister the service");
  CloseServiceHandle(service);
  return deleted ? ServiceOutcome::kDone : ServiceOutcome::kFailed;
}

ServiceOutcome PauseService(std::string& error) {
  ServiceManager scm(SC_MANAGER_CONNECT);
  if (scm.get() == nullptr) {
    error = WhyNot("cannot open the service manager");
    return ServiceOutcome::kFailed;
  }
  SC_HANDLE service = OpenServiceW(scm.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (service == nullptr) {
    if (GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return ServiceOutcome::kDone;
    error = WhyNot("cannot open the Sentrel service");
    return ServiceOutcome::kFailed;
  }
  SERVICE_STATUS status = {};
  const DWORD ran =
      QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED ? 1 : 0;
  // Noted before the stop: a pause cut short still leaves it to resume.
  const LSTATUS r =
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, kServiceKey, kPausedValue, REG_DWORD, &ran, sizeof ran);
  if (r != ERROR_SUCCESS) error = "cannot note the pause: " + SystemErrorText(r);
  if (ran) StopAndWait(service);
  CloseServiceHandle(service);
  return r == ERROR_SUCCESS ? ServiceOutcome::kDone : ServiceOutcome::kFailed;
}

ServiceOutcome ResumeService(std::string& error) {
  DWORD ran = 0;
  DWORD size = sizeof ran;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kServiceKey, kPausedValue, RRF_RT_REG_DWORD, nullptr, &ran,
                   &size) != ERROR_SUCCESS) {
    return ServiceOutcome::kDone;
  }
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kServiceKey, kPausedValue);
  if (ran == 0) return ServiceOutcome::kDone;
  ServiceManager scm(SC_MANAGER_CONNECT);
  SC_HANDLE service =
      scm.get() == nullptr ? nullptr : OpenServiceW(scm.get(), kServiceName, SERVICE_START);
  if (service == nullptr) {
    error = WhyNot("cannot open the Sentrel service");
    return ServiceOutcome::kFailed;
  }
  const bool started = StartServiceW(service, 0, nullptr) ||
                       GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
  if (!started) error = WhyNot("cannot start the Sentrel service");
  CloseServiceHandle(service);
  return started ? ServiceOutcome::kDone : ServiceOutcome::kFailed;
}

bool RegisteredServiceArguments(std::vector<std::string>& arguments) {
  ServiceManager scm(SC_MANAGER_CONNECT);
  SC_HANDLE service =
      scm.get() == nullptr ? nullptr : OpenServiceW(scm.get(), kServiceName, SERVICE_QUERY_CONFIG);
  if (service == nullptr) return false;
  DWORD size = 0;
  QueryServiceConfigW(service, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  const bool read = size > 0 && QueryServiceConfigW(service, config, size, &size);
  CloseServiceHandle(service);
  if (!read || config->lpBinaryPathName == nullptr) return false;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(config->lpBinaryPathName, &count);
  if (argv == nullptr) return false;
  arguments.clear();
  for (int i = 1; i < count; ++i) arguments.push_back(Narrow(argv[i]));
  LocalFree(argv);
  return true;
}

void WriteSystemEvent(EventKind kind, const std::string& text) {
  // Opened once for the process: the source stays registered while it runs.
  static const HANDLE source = RegisterEventSourceW(nullptr, kServiceName);
  if (source == nullptr) return;
  const WORD type = kind == EventKind::kError     ? EVENTLOG_ERROR_TYPE
                    : kind == EventKind::kWarning ? EVENTLOG_WARNING_TYPE
                                                  : EVENTLOG_INFORMATION_TYPE;
  const std::wstring wide = Widen(text);
  const wchar_t* strings[] = {wide.c_str()};
  ReportEventW(source, type, 0, EventIdOf(kind), nullptr, 1, 0, strings, nullptr);
}

std::string ServiceLogPath() {
  const std::string folder = SystemConfigFolder();
  return folder.empty() ? folder : folder + "\\sentrel.log";
}

}  // namespace sentrel

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/wide_win32.h"

namespace sentrel {

// Makes the handles of started programs; a friend of SpawnedProcess.
class ProcessStarter {
 public:
  static SpawnedProcess Make(HANDLE process) {
    if (process == nullptr) return SpawnedProcess();
    return SpawnedProcess(static_cast<int>(GetProcessId(process)),
                          reinterpret_cast<intptr_t>(process));
  }
};

namespace {

HANDLE NativeOf(intptr_t native) { return reinterpret_cast<HANDLE>(native); }

// The window state of each "Show" value.
WORD ShowCommand(int show) {
  switch (show) {
    case 1: return SW_MINIMIZE;
    case 2: return SW_MAXIMIZE;
    case 3: return SW_HIDE;
    default: return SW_SHOWNORMAL;
  }
}

bool EndsWithIgnoreCase(const std::wstring& s, const wchar_t* suffix) {
  const size_t n = wcslen(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    wchar_t a = s[s.size() - n + i], b = suffix[i];
    if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a + 32);
    if (a != b) return false;
  }
  return true;
}

// A program file: an existing file (not a folder) ending in ".exe" or
// ".com". Anything else the shell would run through another program.
bool IsProgramFile(const std::wstring& path) {
  if (!EndsWithIgnoreCase(path, L".exe") && !EndsWithIgnoreCase(path, L".com")) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The program file `name` stands for, or the empty text.
std::wstring ResolveProgram(const std::string& name, const std::string& directory) {
  if (name.empty()) return std::wstring();
  if (FindLastSeparator(name) != std::string::npos) {
    std::string base = name;
    if (!IsAbsolutePath(name) && !directory.empty()) {
      base = directory;
      if (!IsPathSeparator(base.back())) base.push_back('\\');
      base += name;
    }
    const std::wstring wide = WidePath(base);
    if (IsProgramFile(wide)) return wide;
    // Without an extension, as the system would take it.
    const std::string last = name.substr(FindLastSeparator(name) + 1);
    if (last.find('.') == std::string::npos) {
      for (const wchar_t* ext : {L".exe", L".com"}) {
        if (IsProgramFile(wide + ext)) return wide + ext;
      }
    }
    return std::wstring();
  }
  const std::wstring wide = Widen(name);
  std::vector<wchar_t> found(MAX_PATH);
  for (;;) {
    const DWORD n = SearchPathW(nullptr, wide.c_str(), L".exe", static_cast<DWORD>(found.size()),
                                found.data(), nullptr);
    if (n == 0) return std::wstring();
    if (n < found.size()) {
      std::wstring path(found.data(), n);
      return IsProgramFile(path) ? path : std::wstring();
    }
    found.resize(n + 1);
  }
}

// One argument as the command line carries it: as it is when nothing in it
// could split or quote it, else quoted, with the backslashes before a quote
// (and at the end) doubled and the quotes escaped.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// The program's own name, which programs read without escapes: quoted only
// (a file name holds no quote).
void AppendProgramName(std::wstring& line, const std::wstring& name) {
  if (!name.empty() && name.find_first_of(L" \t") == std::wstring::npos) {
    line += name;
  } else {
    line += L"\"" + name + L"\"";
  }
}

// Inheritable copies of the three standard handles the program gets.
class ChildStreams {
 public:
  explicit ChildStreams(bool null_streams) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    for (int i = 0; i < 3; ++i) {
      HANDLE h = INVALID_HANDLE_VALUE;
      if (null_streams) {
        h = CreateFileW(L"NUL", i == 0 ? GENERIC_READ : GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
      } else {
        static const DWORD kStd[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        HANDLE ours = GetStdHandle(kStd[i]);
        if (ours == nullptr || ours == INVALID_HANDLE_VALUE ||
            !DuplicateHandle(GetCurrentProcess(), ours, GetCurrentProcess(), &h, 0, TRUE,
                             DUPLICATE_SAME_ACCESS)) {
          h = INVALID_HANDLE_VALUE;
        }
      }
      handles_[i].Reset(h);
      if (handles_[i].valid()) list_.push_back(h);
    }
  }
  HANDLE get(int i) const { return handles_[i].valid() ? handles_[i].get() : nullptr; }
  std::vector<HANDLE>& list() { return list_; }

 private:
  ScopedHandle handles_[3];
  std::vector<HANDLE> list_;
};

// Closes the top-level windows of process `pid`; false when it has none.
bool CloseWindowsOf(DWORD pid) {
  struct Search {
    DWORD pid;
    bool found = false;
  } search{pid};
  EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s->pid) {
          s->found = true;
          PostMessageW(window, WM_CLOSE, 0, 0);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The shell needs COM on the thread that asks it.
class ComScope {
 public:
  ComScope()
      : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComScope() {
    if (ok_) CoUninitialize();
  }

 private:
  bool ok_;
};

}  // namespace

// Windows keeps no finished child around: letting go of the handle is all.
void SpawnedProcess::Detach() {
  if (native_ != -1) CloseHandle(NativeOf(native_));
  pid_ = -1;
  native_ = -1;
}

void SpawnedProcess::Reaped(int status) {
  exit_status_ = status;
  Detach();
}

bool SpawnedProcess::HasExited() {
  if (pid_ <= 0) return true;
  if (WaitForSingleObject(NativeOf(native_), 0) != WAIT_OBJECT_0) return false;
  DWORD code = 0;
  Reaped(GetExitCodeProcess(NativeOf(native_), &code) ? static_cast<int>(code) : -1);
  return true;
}

SpawnedProcess::WaitResult SpawnedProcess::Wait(const std::function<bool()>& stop_requested,
                                                int timeout_ms) {
  if (pid_ <= 0) return WaitResult::kNoProcess;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (HasExited()) return WaitResult::kExited;
    if (stop_requested && stop_requested()) return WaitResult::kStopped;
    int slice = stop_requested ? 50 : -1;
    if (timeout_ms >= 0) {
      const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
      if (spent >= timeout_ms) return WaitResult::kTimedOut;
      const int left = static_cast<int>(timeout_ms - spent);
      if (slice < 0 || left < slice) slice = left;
    }
    WaitForSingleObject(NativeOf(native_), slice < 0 ? INFINITE : static_cast<DWORD>(slice));
  }
}

void SpawnedProcess::Terminate(bool forced) {
  if (pid_ <= 0) return;
  // A program without a window cannot be asked: it is ended.
  if (forced || !CloseWindowsOf(static_cast<DWORD>(pid_))) {
    TerminateProcess(NativeOf(native_), 1);
  }
}

std::wstring CommandLineOf(const std::vector<std::string>& argv) {
  std::wstring line;
  if (argv.empty()) return line;
  AppendProgramName(line, Widen(argv[0]));
  for (size_t i = 1; i < argv.size(); ++i) {
    line += L' ';
    AppendArgument(line, Widen(argv[i]));
  }
  return line;
}

namespace {

// The longest command line CreateProcess takes, its terminator left out.
constexpr size_t kCommandLineLimit = 32766;

}  // namespace

BOOL CreateProcessRetried(const wchar_t* program, wchar_t* command_line, BOOL inherit,
                          DWORD flags, void* environment, const wchar_t* directory,
                          STARTUPINFOW* startup, PROCESS_INFORMATION* info) {
  // CreateProcessW may write into the command line; the second try gets it
  // as it was.
  const std::wstring line = command_line != nullptr ? command_line : L"";
  BOOL ok = CreateProcessW(program, command_line, nullptr, nullptr, inherit, flags, environment,
                           directory, startup, info);
  if (!ok && GetLastError() == ERROR_INTERNAL_ERROR) {
    if (command_line != nullptr) std::copy(line.begin(), line.end(), command_line);
    ok = CreateProcessW(program, command_line, nullptr, nullptr, inherit, flags, environment,
                        directory, startup, info);
  }
  return ok;
}

bool ArgumentsFit(const std::vector<std::string>& argv) {
  return CommandLineOf(argv).size() <= kCommandLineLimit;
}

SpawnedProcess StartProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                            int* error) {
  if (error != nullptr) *error = 0;
  const std::wstring program =
      argv.empty() ? std::wstring() : ResolveProgram(argv[0], options.directory);
  if (program.empty()) {
    if (error != nullptr) *error = ERROR_FILE_NOT_FOUND;
    return SpawnedProcess();
  }
  std::wstring line = CommandLineOf(argv);

  ChildStreams streams(options.null_streams);
  STARTUPINFOEXW info = {};
  info.StartupInfo.cb = sizeof info;
  info.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  info.StartupInfo.wShowWindow = ShowCommand(options.show);
  info.StartupInfo.hStdInput = streams.get(0);
  info.StartupInfo.hStdOutput = streams.get(1);
  info.StartupInfo.hStdError = streams.get(2);
  // Only the three streams are inherited, never a file we have open.
  std::vector<char> attributes;
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  // A hidden program gets no console at all: its streams are the null
  // device, and a console made only to stay hidden would be one more
  // process that outlives it.
  if (options.null_streams) flags |= DETACHED_PROCESS;
  const bool inherit = !streams.list().empty();
  if (inherit) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    attributes.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    if (InitializeProcThreadAttributeList(list, 1, 0, &size) &&
        UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                  streams.list().data(), streams.list().size() * sizeof(HANDLE),
                                  nullptr, nullptr)) {
      info.lpAttributeList = list;
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
  }
  std::wstring directory;
  if (!options.directory.empty()) directory = WidePath(options.directory);
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessRetried(program.c_str(), line.data(), inherit, flags, nullptr,
                                       directory.empty() ? nullptr : directory.c_str(),
                                       &info.StartupInfo, &pi);
  const DWORD started_error = GetLastError();
  if (info.lpAttributeList != nullptr) DeleteProcThreadAttributeList(info.lpAttributeList);
  if (!ok) {
    if (error != nullptr) *error = static_cast<int>(started_error);
    return SpawnedProcess();
  }
  CloseHandle(pi.hThread);
  return ProcessStarter::Make(pi.hProcess);
}

SpawnedProcess OpenWithDesktop(const std::string& target, const ProcessOptions& options,
                               int* error) {
  if (error != nullptr) *error = 0;
  ComScope com;
  const std::wstring file = Widen(NativeSeparators(target));
  const std::wstring directory = Widen(NativeSeparators(options.directory));
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = ShowCommand(options.show);
  if (!ShellExecuteExW(&info)) {
    if (error != nullptr) *error = static_cast<int>(GetLastError());
    return SpawnedProcess();
  }
  // The shell may hand the document to a program that was running already:
  // then there is no process to wait for.
  return ProcessStarter::Make(info.hProcess);
}

std::string ErrorText(int error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return "not found";
  return SystemErrorText(static_cast<DWORD>(error));
}

std::string ExitStatusText(int status) {
  const auto code = static_cast<uint32_t>(status);
  std::string text = "exited with status " + std::to_string(code);
  if (code > 0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(code));
    text += std::string(" (") + hex + ")";
  }
  return text;
}

bool EndedByStopSignal(int status) {
  return static_cast<uint32_t>(status) == static_cast<uint32_t>(STATUS_CONTROL_C_EXIT);
}

bool IsExecutableProgram(const std::string& name, const std::string& directory) {
  return !ResolveProgram(name, directory).empty();
}

std::string FindProgram(const std::string& name, const std::string& directory) {
  return Narrow(ResolveProgram(name, directory));
}

std::vector<std::string> SplitArguments(std::string_view text, const std::vector<bool>& literal) {
  auto is_literal = [&](size_t i) { return i < literal.size() && literal[i]; };
  std::vector<std::string> out;
  std::string current;
  bool in_word = false;
  bool quoted = false;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (is_literal(i)) {
      current.push_back(c);
      in_word = true;
      ++i;
      continue;
    }
    if (c == '\\') {
      size_t j = i;
      while (j < n && text[j] == '\\' && !is_literal(j)) ++j;
      const size_t run = j - i;
      in_word = true;
      if (j < n && text[j] == '"' && !is_literal(j)) {
        // Before a quote: each pair is one backslash, and an odd one makes
        // the quote a character.
        current.append(run / 2, '\\');
        if (run % 2 == 1) {
          current.push_back('"');
          i = j + 1;
        } else {
          i = j;
        }
      } else {
        current.append(run, '\\');
        i = j;
      }
      continue;
    }
    if (c == '"') {
      in_word = true;
      if (quoted && i + 1 < n && text[i + 1] == '"' && !is_literal(i + 1)) {
        current.push_back('"');
        i += 2;
        continue;
      }
      quoted = !quoted;
      ++i;
      continue;
    }
    if (!quoted && (c == ' ' || c == '\t')) {
      if (in_word) out.push_back(std::move(current));
      current.clear();
      in_word = false;
      ++i;
      continue;
    }
    current.push_back(c);
    in_word = true;
    ++i;
  }
  if (in_word) out.push_back(std::move(current));
  return out;
}

std::optional<std::string> EnvironmentVariable(const std::string& name) {
  if (name.empty()) return std::nullopt;
  const std::wstring wide = Widen(name);
  std::vector<wchar_t> buf(256);
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD n = GetEnvironmentVariableW(wide.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) {
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (n < buf.size()) return Narrow(std::wstring_view(buf.data(), n));
    buf.resize(n);
  }
}

int ChildrenAwaitingReap() { return 0; }

}  // namespace sentrel

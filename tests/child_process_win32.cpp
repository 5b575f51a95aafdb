#include <chrono>
#include <thread>

#include "child_process.h"
#include "platform/wide_win32.h"

namespace sentrel {

struct ChildProcess::Impl {
  ScopedHandle process;
  ScopedHandle in, out, err;
  bool exited = false;
  DWORD code = 0;
};

namespace {

// Our environment block with `extra_env` ("NAME=value") set over it; names
// compare ignoring case, as Windows has them.
std::wstring EnvironmentBlock(const std::vector<std::string>& extra_env) {
  auto upper_name = [](const std::wstring& e) {
    std::wstring n = e.substr(0, e.find(L'=', 1));
    for (wchar_t& c : n) c = static_cast<wchar_t>(towupper(c));
    return n;
  };
  std::vector<std::wstring> extra;
  for (const auto& e : extra_env) extra.push_back(Widen(e));
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; p != nullptr && *p; p += wcslen(p) + 1) {
    const std::wstring entry(p);
    bool replaced = false;
    for (const auto& x : extra) replaced = replaced || upper_name(x) == upper_name(entry);
    if (!replaced) block += entry + L'\0';
  }
  if (env != nullptr) FreeEnvironmentStringsW(env);
  for (const auto& x : extra) block += x + L'\0';
  block += L'\0';
  return block;
}

std::wstring Quoted(const std::string& arg) {
  std::wstring w = Widen(arg), out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : w) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& cwd,
                           const std::vector<std::string>& extra_env, Errors errors)
    : impl_(std::make_unique<Impl>()) {
  if (argv.empty()) return;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE in_read, in_write, out_read, out_write, err_read = nullptr, err_write = nullptr;
  if (!CreatePipe(&in_read, &in_write, &inherit, 0)) return;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) {
    CloseHandle(in_read);
    CloseHandle(in_write);
    return;
  }
  if (errors == Errors::kApart && !CreatePipe(&err_read, &err_write, &inherit, 0)) {
    err_read = err_write = nullptr;
  }
  // Our ends stay ours.
  SetHandleInformation(in_write, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  if (err_read != nullptr) SetHandleInformation(err_read, HANDLE_FLAG_INHERIT, 0);
  std::wstring line;
  for (size_t i = 0; i < argv.size(); ++i) line += (i ? L" " : L"") + Quoted(argv[i]);
  std::wstring env = EnvironmentBlock(extra_env);
  std::wstring dir = cwd.empty() ? std::wstring() : WidePath(cwd);
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in_read;
  si.hStdOutput = out_write;
  si.hStdError = err_write != nullptr ? err_write : out_write;
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessRetried(WidePath(argv[0]).c_str(), line.data(), TRUE,
                                       CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS, env.data(),
                                       dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  CloseHandle(in_read);
  CloseHandle(out_write);
  if (err_write != nullptr) CloseHandle(err_write);
  impl_->in.Reset(in_write);
  impl_->out.Reset(out_read);
  if (err_read != nullptr) impl_->err.Reset(err_read);
  if (!ok) return;
  CloseHandle(pi.hThread);
  impl_->process.Reset(pi.hProcess);
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (impl_->process.valid() && !impl_->exited) {
    TerminateProcess(impl_->process.get(), 1);
    WaitForSingleObject(impl_->process.get(), 10000);
  }
}

bool ChildProcess::started() const { return impl_->process.valid(); }

void ChildProcess::Send(const std::string& text) {
  DWORD written = 0;
  if (impl_->in.valid()) {
    WriteFile(impl_->in.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

void ChildProcess::CloseInput() { impl_->in.Reset(); }

void ChildProcess::Signal(int) {}

void ChildProcess::SignalGroup(int) {}

bool ChildProcess::WaitForOutput(const std::string& needle, int ms, size_t from) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (output_.find(needle, from) == std::string::npos) {
    int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    end - std::chrono::steady_clock::now())
                                    .count());
    if (left <= 0) return false;
    if (!ReadSome(left) && !Reading()) return false;
  }
  return true;
}

int ChildProcess::WaitExit(int ms) {
  if (!impl_->process.valid()) return -1;
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (WaitForSingleObject(impl_->process.get(), 0) == WAIT_OBJECT_0) {
      impl_->exited = true;
      while (ReadSome(100)) {
      }
      GetExitCodeProcess(impl_->process.get(), &impl_->code);
      return static_cast<int>(impl_->code);
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    ReadSome(20);
  }
}

bool ChildProcess::Running() {
  if (impl_->exited || !impl_->process.valid()) return false;
  if (WaitForSingleObject(impl_->process.get(), 0) == WAIT_OBJECT_0) {
    impl_->exited = true;
    return false;
  }
  return true;
}

namespace {

// Takes what one pipe has without waiting for more: 1 when something came,
// 0 when nothing, -1 when the pipe has ended (and is closed). Text written
// to a pipe ends its lines in CR LF; the tests read lines as the program
// meant them.
int TakeFrom(ScopedHandle& pipe, std::string& text) {
  if (!pipe.valid()) return 0;
  DWORD available = 0;
  if (!PeekNamedPipe(pipe.get(), nullptr, 0, nullptr, &available, nullptr)) {
    pipe.Reset();
    return -1;
  }
  if (available == 0) return 0;
  char buf[4096];
  DWORD got = 0;
  if (!ReadFile(pipe.get(), buf, sizeof buf, &got, nullptr) || got == 0) {
    pipe.Reset();
    return -1;
  }
  for (DWORD i = 0; i < got; ++i) {
    if (buf[i] == '\n' && !text.empty() && text.back() == '\r') text.pop_back();
    text.push_back(buf[i]);
  }
  return 1;
}

}  // namespace

// A pipe cannot be waited on: what is there is asked for every few
// milliseconds until `ms` pass.
bool ChildProcess::ReadSome(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    if (!Reading()) return false;
    const int a = TakeFrom(impl_->out, output_);
    const int b = TakeFrom(impl_->err, errors_);
    if (a != 0 || b != 0) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool ChildProcess::Reading() const { return impl_->out.valid() || impl_->err.valid(); }

bool ChildProcess::ReadUntil(const std::function<bool()>& done, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return done();
    if (!ReadSome(50) && !Reading()) return done();
  }
  return true;
}

}  // namespace sentrel

#include <chrono>
#include <thread>

#include "file_holder.h"
#include "platform/wide_win32.h"

namespace sentrel {

struct FileHolder::Impl {
  ScopedHandle process;
};

FileHolder::FileHolder(const std::string& path, bool write) : impl_(std::make_unique<Impl>()) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE out_read, out_write;
  if (!CreatePipe(&out_read, &out_write, &inherit, 0)) return;
  SetHandleInformation(out_read, HANDLE_FLAG_INHERIT, 0);
  ScopedHandle reader(out_read);
  const std::string program = std::string(SENTREL_TEST_HELPER_DIR) + "/hold_open.exe";
  std::wstring line = L"hold_open \"" + Widen(path) + L"\" " + (write ? L"write" : L"read");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = out_write;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi = {};
  const BOOL ok = CreateProcessRetried(WidePath(program).c_str(), line.data(), TRUE,
                                       DETACHED_PROCESS, nullptr, nullptr, &si, &pi);
  CloseHandle(out_write);
  if (!ok) return;
  CloseHandle(pi.hThread);
  impl_->process.Reset(pi.hProcess);
  // Waits generously for the "ready" line: the machine may be busy.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  std::string got;
  while (std::chrono::steady_clock::now() < end && got.rfind("ready", 0) != 0) {
    DWORD available = 0;
    if (!PeekNamedPipe(reader.get(), nullptr, 0, nullptr, &available, nullptr)) break;
    if (available == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    char buf[16];
    DWORD n = 0;
    if (!ReadFile(reader.get(), buf, sizeof buf, &n, nullptr) || n == 0) break;
    got.append(buf, n);
  }
  started_ = got.rfind("ready", 0) == 0;
}

FileHolder::~FileHolder() { Release(); }

void FileHolder::Release() {
  if (!impl_->process.valid()) return;
  TerminateProcess(impl_->process.get(), 1);
  WaitForSingleObject(impl_->process.get(), 20000);
  impl_->process.Reset();
}

}  // namespace sentrel

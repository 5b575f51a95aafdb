#include "platform/top_windows.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

HWND WindowOf(const TopWindow& window) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(window.id));
}

class DesktopWindows final : public WindowSystem {
 public:
  std::vector<TopWindow> List() override {
    std::vector<TopWindow> out;
    // EnumWindows goes through the top-level windows in z-order, topmost
    // first.
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
          auto* list = reinterpret_cast<std::vector<TopWindow>*>(param);
          TopWindow w;
          w.id = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(window));
          const int n = GetWindowTextLengthW(window);
          if (n > 0) {
            std::wstring title(static_cast<size_t>(n) + 1, L'\0');
            const int got = GetWindowTextW(window, title.data(), n + 1);
            title.resize(got > 0 ? static_cast<size_t>(got) : 0);
            w.title = Narrow(title);
          }
          list->push_back(std::move(w));
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
  }

  void RequestClose(const TopWindow& window) override {
    PostMessageW(WindowOf(window), WM_CLOSE, 0, 0);
  }

  void ForceEnd(const TopWindow& window) override {
    DWORD pid = 0;
    GetWindowThreadProcessId(WindowOf(window), &pid);
    if (pid == 0 || pid == GetCurrentProcessId()) return;
    ScopedHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (process.valid()) TerminateProcess(process.get(), 1);
  }
};

}  // namespace

std::unique_ptr<WindowSystem> OpenWindowSystem() { return std::make_unique<DesktopWindows>(); }

}  // namespace sentrel

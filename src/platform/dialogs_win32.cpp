#include <atomic>
#include <chrono>
#include <thread>

#include "platform/dialogs.h"
#include "platform/wide_win32.h"

namespace sentrel {
namespace {

// Shows a message box on the calling thread. While it is open a watcher
// asks `stop` every 100 ms and, once it answers true, presses the box's
// button `stop_button` (a yes/no box cannot be closed otherwise).
int ShowBox(const DialogRequest& request, UINT type, int stop_button,
            const std::function<bool()>& stop) {
  const std::wstring title = Widen(request.title);
  const std::wstring text = Widen(request.text);
  std::atomic<bool> open{true};
  std::thread watcher;
  if (stop) {
    const DWORD box_thread = GetCurrentThreadId();
    watcher = std::thread([&open, &stop, box_thread, stop_button] {
      while (open.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!open.load() || !stop()) continue;
        EnumThreadWindows(
            box_thread,
            [](HWND window, LPARAM button) -> BOOL {
              PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(button), 0);
              return TRUE;
            },
            static_cast<LPARAM>(stop_button));
      }
    });
  }
  const int answer = MessageBoxW(nullptr, text.c_str(), title.c_str(),
                                 type | MB_TOPMOST | MB_SETFOREGROUND | MB_TASKMODAL);
  open = false;
  if (watcher.joinable()) watcher.join();
  return answer;
}

}  // namespace

std::string SessionDisplay() { return "desktop"; }

DialogAnswer ShowInformation(const DialogRequest& request, const std::function<bool()>& stop) {
  // No box could be made: no desktop (a service), or no display for it.
  if (ShowBox(request, MB_OK | MB_ICONINFORMATION, IDOK, stop) == 0) return DialogAnswer::kNotShown;
  return DialogAnswer::kYes;
}

DialogAnswer AskQuestion(const DialogRequest& request, const std::function<bool()>& stop) {
  const int answer = ShowBox(request, MB_YESNO | MB_ICONQUESTION, IDNO, stop);
  if (answer == 0) return DialogAnswer::kNotShown;
  return answer == IDYES ? DialogAnswer::kYes : DialogAnswer::kNo;
}

}  // namespace sentrel

#include "platform/top_windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/wide_win32.h"
#include "wait_until.h"

namespace sentrel {
namespace {

// A titled top-level window of this process, on a thread of its own with
// its message loop; a close request destroys it and ends the thread.
class TestWindow {
 public:
  explicit TestWindow(const std::string& title) : thread_([this, title] { Run(title); }) {
    WaitUntil([&] { return made_.load(); });
  }
  ~TestWindow() {
    if (HWND w = window_.load()) PostMessageW(w, WM_CLOSE, 0, 0);
    thread_.join();
  }
  bool Made() const { return window_.load() != nullptr; }
  bool Closed() const { return closed_.load(); }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, w, l);
  }
  void Run(const std::string& title) {
    WNDCLASSW c = {};
    c.lpfnWndProc = Proc;
    c.hInstance = GetModuleHandleW(nullptr);
    c.lpszClassName = L"SentrelTestWindow";
    RegisterClassW(&c);  // fails harmlessly when a previous test registered it
    // Under Wine the first windows of a fresh prefix, made by two tests at
    // once, can come before its desktop is up: the window is asked for again
    // until the desktop takes it.
    HWND w = nullptr;
    WaitUntil([&] {
      w = CreateWindowExW(0, c.lpszClassName, Widen(title).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                          100, nullptr, nullptr, c.hInstance, nullptr);
      return w != nullptr;
    });
    window_ = w;
    made_ = true;
    if (w == nullptr) return;
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
    window_ = nullptr;
    closed_ = true;
  }

  std::atomic<HWND> window_{nullptr};
  std::atomic<bool> made_{false}, closed_{false};
  std::thread thread_;
};

const TopWindow* Find(const std::vector<TopWindow>& list, const std::string& title) {
  for (const TopWindow& w : list) {
    if (w.title == title) return &w;
  }
  return nullptr;
}

TEST(DesktopWindowsTest, ListsTitlesInUtf8AndClosesOnRequest) {
  const std::string title = "Sentrel Prüfung ✓ " + std::to_string(GetCurrentProcessId());
  TestWindow window(title);
  ASSERT_TRUE(window.Made());
  auto windows = OpenWindowSystem();
  const auto list = windows->List();
  const TopWindow* found = Find(list, title);
  ASSERT_NE(found, nullptr);
  windows->RequestClose(*found);
  EXPECT_TRUE(WaitUntil([&] { return window.Closed(); }));
}

TEST(DesktopWindowsTest, AForcedEndNeverEndsThisProgram) {
  const std::string title = "Sentrel own window " + std::to_string(GetCurrentProcessId());
  TestWindow window(title);
  ASSERT_TRUE(window.Made());
  auto windows = OpenWindowSystem();
  const auto list = windows->List();
  const TopWindow* found = Find(list, title);
  ASSERT_NE(found, nullptr);
  windows->ForceEnd(*found);  // were it ended, this test would not go on
  EXPECT_NE(Find(windows->List(), title), nullptr);
}

}  // namespace
}  // namespace sentrel

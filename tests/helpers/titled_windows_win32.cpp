// Opens one top-level window per title given, the last one on top, and
// answers the close request by closing that window and writing
// "closed <title>" to the log file. Writes "ready" once all windows are
// made; ends when its last window is closed, or after a minute at most.
//
//   titled_windows --log FILE [--ignore-close] TITLE...
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

std::wstring g_log;
bool g_ignore_close = false;
std::map<HWND, std::string> g_titles;

// Two helpers of one test share the log. The C library's append mode seeks
// to the end and then writes, in two steps, so two lines written at once
// could land on the same place; a mutex of the desktop makes them take turns.
void Log(const std::string& line) {
  static HANDLE turn = CreateMutexW(nullptr, FALSE, L"SentrelTitledWindowsLog");
  if (turn != nullptr) WaitForSingleObject(turn, 10000);
  if (FILE* f = _wfopen(g_log.c_str(), L"ab")) {
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
  }
  if (turn != nullptr) ReleaseMutex(turn);
}

std::wstring Widen(const std::string& s) {
  std::wstring w(s.size(), L'\0');
  w.resize(MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(),
                               static_cast<int>(w.size())));
  return w;
}

LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_CLOSE:
      Log("closed " + g_titles[window]);
      if (!g_ignore_close) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      g_titles.erase(window);
      if (g_titles.empty()) PostQuitMessage(0);
      return 0;
    case WM_TIMER:
      PostQuitMessage(1);
      return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> titles;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--log" && i + 1 < argc) {
      g_log = argv[++i];
    } else if (a == L"--ignore-close") {
      g_ignore_close = true;
    } else {
      const int n = WideCharToMultiByte(CP_UTF8, 0, a.c_str(), -1, nullptr, 0, nullptr, nullptr);
      std::string t(static_cast<size_t>(n), '\0');
      WideCharToMultiByte(CP_UTF8, 0, a.c_str(), -1, t.data(), n, nullptr, nullptr);
      t.resize(static_cast<size_t>(n > 0 ? n - 1 : 0));
      titles.push_back(t);
    }
  }
  WNDCLASSW c = {};
  c.lpfnWndProc = Proc;
  c.hInstance = GetModuleHandleW(nullptr);
  c.lpszClassName = L"SentrelTitledWindow";
  RegisterClassW(&c);
  for (const std::string& t : titles) {
    HWND w = CreateWindowExW(0, c.lpszClassName, Widen(t).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200,
                             100, nullptr, nullptr, c.hInstance, nullptr);
    if (w == nullptr) return 2;
    g_titles[w] = t;
    // Each new window above the ones before it.
    SetWindowPos(w, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW | SWP_NOACTIVATE);
  }
  // Never outlive the test that started it by long.
  if (!g_titles.empty()) SetTimer(g_titles.begin()->first, 1, 60000, nullptr);
  Log("ready");
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return static_cast<int>(m.wParam);
}

#ifndef SENTREL_PLATFORM_TOP_WINDOWS_H_
#define SENTREL_PLATFORM_TOP_WINDOWS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sentrel {

// A program's top-level window as the terminate action sees it: a title,
// a way to ask it to close, and the process that owns it.
struct TopWindow {
  uint64_t id = 0;  // the X window, or the process id without a display
  std::string title;
};

// The desktop's top-level windows. With an X display these are the root
// window's children in stacking order; without one, the user's own
// processes stand for windows (the title is the command line, newest
// process first), never process 1 and never this program.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;
  // Every top-level window, topmost first, titled or not, mapped or not.
  virtual std::vector<TopWindow> List() = 0;
  // The polite close request, posted without waiting for an answer.
  virtual void RequestClose(const TopWindow& window) = 0;
  // Ends the owning process at once, when it can be found and may be ended.
  virtual void ForceEnd(const TopWindow& window) = 0;
};

// The X display named by DISPLAY when it can be opened, else the process
// stand-in.
std::unique_ptr<WindowSystem> OpenWindowSystem();

// The X display named `display` (e.g. ":5"); none when it cannot be opened.
std::unique_ptr<WindowSystem> OpenX11Windows(const std::string& display);

// The user's own processes as windows.
std::unique_ptr<WindowSystem> OpenProcessWindows();

// Whether windows can be shown on `display` now: an X display name (":0")
// whose server takes a connection, or the name of a Wayland socket whose
// compositor listens.
bool DisplayAnswers(const std::string& display);

}  // namespace sentrel

#endif  // SENTREL_PLATFORM_TOP_WINDOWS_H_

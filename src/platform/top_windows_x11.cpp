// The X11 side of the window seam.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/top_windows.h"

namespace sentrel {
namespace {

constexpr size_t kMaxTitle = 4096;

// Windows vanish while they are walked; the errors that follow are expected
// and must neither print nor end the program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }
int QuietIoError(Display*) { return 0; }
// A lost connection leaves the display unusable; the walk then simply finds
// nothing more, instead of Xlib ending the process.
void KeepRunning(Display*, void*) {}

void SetUpXlibOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();
    XSetErrorHandler(IgnoreXError);
    XSetIOErrorHandler(QuietIoError);
  });
}

class X11Windows final : public WindowSystem {
 public:
  explicit X11Windows(Display* display) : dpy_(display) {
    XSetIOErrorExitHandler(dpy_, KeepRunning, nullptr);
    wm_state_ = XInternAtom(dpy_, "WM_STATE", False);
    net_wm_name_ = XInternAtom(dpy_, "_NET_WM_NAME", False);
    utf8_string_ = XInternAtom(dpy_, "UTF8_STRING", False);
    wm_protocols_ = XInternAtom(dpy_, "WM_PROTOCOLS", False);
    wm_delete_ = XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    net_close_ = XInternAtom(dpy_, "_NET_CLOSE_WINDOW", False);
    net_wm_pid_ = XInternAtom(dpy_, "_NET_WM_PID", False);
    net_wm_check_ = XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
  }
  ~X11Windows() override { XCloseDisplay(dpy_); }

  std::vector<TopWindow> List() override {
    std::vector<TopWindow> out;
    Window root = DefaultRootWindow(dpy_), parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(dpy_, root, &root, &parent, &children, &count)) return out;
    // The tree lists the bottom window first.
    for (unsigned int i = count; i-- > 0;) {
      Window client = ClientOf(children[i], 0);
      out.push_back(TopWindow{client, Title(client)});
    }
    if (children != nullptr) XFree(children);
    return out;
  }

  void RequestClose(const TopWindow& window) override {
    Window w = static_cast<Window>(window.id);
    if (!HasDeleteProtocol(w) && HasWindowManager()) {
      // The window manager closes windows that take no close request.
      XEvent ev{};
      ev.xclient.type = ClientMessage;
      ev.xclient.window = w;
      ev.xclient.message_type = net_close_;
      ev.xclient.format = 32;
      ev.xclient.data.l[0] = CurrentTime;
      ev.xclient.data.l[1] = 2;  // from a pager-like tool
      XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                 SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    } else {
      XEvent ev{};
      ev.xclient.type = ClientMessage;
      ev.xclient.window = w;
      ev.xclient.message_type = wm_protocols_;
      ev.xclient.format = 32;
      ev.xclient.data.l[0] = static_cast<long>(wm_delete_);
      ev.xclient.data.l[1] = CurrentTime;
      XSendEvent(dpy_, w, False, NoEventMask, &ev);
    }
    XSync(dpy_, False);
  }

  void ForceEnd(const TopWindow& window) override {
    Window w = static_cast<Window>(window.id);
    long pid = Cardinal(w, net_wm_pid_);
    if (pid > 1 && pid != getpid() && OnThisMachine(w)) {
      kill(static_cast<pid_t>(pid), SIGKILL);
      return;
    }
    if (pid <= 0) {
      // Without a process id the X server can still cut the program's
      // connection, which ends an ordinary X program.
      XKillClient(dpy_, w);
      XSync(dpy_, False);
    }
  }

 private:
  bool HasProperty(Window w, Atom prop) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    int rc = XGetWindowProperty(dpy_, w, prop, 0, 0, False, AnyPropertyType, &type, &format,
                                &items, &after, &data);
    if (data != nullptr) XFree(data);
    return rc == Success && type != None;
  }

  // Under a reparenting window manager the root's child is a frame; the
  // program's own window, which carries WM_STATE, sits inside it.
  Window ClientOf(Window w, int depth) {
    if (HasProperty(w, wm_state_)) return w;
    if (depth < 3) {
      Window root = 0, parent = 0;
      Window* children = nullptr;
      unsigned int count = 0;
      if (XQueryTree(dpy_, w, &root, &parent, &children, &count)) {
        Window found = 0;
        for (unsigned int i = count; i-- > 0 && found == 0;) {
          Window c = ClientOf(children[i], depth + 1);
          if (c != children[i] || HasProperty(c, wm_state_)) found = c;
        }
        if (children != nullptr) XFree(children);
        if (found != 0) return found;
      }
    }
    return w;
  }

  std::string Title(Window w) {
    std::string title;
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy_, w, net_wm_name_, 0, kMaxTitle / 4 + 1, False, utf8_string_,
                           &type, &format, &items, &after, &data) == Success &&
        type == utf8_string_ && format == 8 && data != nullptr) {
      title.assign(reinterpret_cast<char*>(data), items);
    }
    if (data != nullptr) XFree(data);
    if (title.empty()) {
      XTextProperty prop{};
      if (XGetWMName(dpy_, w, &prop) && prop.value != nullptr) {
        char** list = nullptr;
        int n = 0;
        if (Xutf8TextPropertyToTextList(dpy_, &prop, &list, &n) >= Success && n > 0 &&
            list != nullptr) {
          title = list[0];
        } else {
          title.assign(reinterpret_cast<char*>(prop.value), prop.nitems);
        }
        if (list != nullptr) XFreeStringList(list);
        XFree(prop.value);
      }
    }
    if (title.size() > kMaxTitle) title.resize(kMaxTitle);
    return title;
  }

  bool HasDeleteProtocol(Window w) {
    Atom* protocols = nullptr;
    int n = 0;
    bool found = false;
    if (XGetWMProtocols(dpy_, w, &protocols, &n)) {
      for (int i = 0; i < n; ++i) found = found || protocols[i] == wm_delete_;
      XFree(protocols);
    }
    return found;
  }

  bool HasWindowManager() { return Cardinal(DefaultRootWindow(dpy_), net_wm_check_, XA_WINDOW) > 0; }

  long Cardinal(Window w, Atom prop, Atom want = XA_CARDINAL) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    long value = -1;
    if (XGetWindowProperty(dpy_, w, prop, 0, 1, False, want, &type, &format, &items, &after,
                           &data) == Success &&
        type == want && format == 32 && items == 1 && data != nullptr) {
      value = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) XFree(data);
    return value;
  }

  // A process id means something only on the machine the program runs on.
  bool OnThisMachine(Window w) {
    XTextProperty prop{};
    if (!XGetWMClientMachine(dpy_, w, &prop) || prop.value == nullptr) return true;
    std::string machine(reinterpret_cast<char*>(prop.value), prop.nitems);
    XFree(prop.value);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return machine == host;
  }

  Display* dpy_;
  Atom wm_state_, net_wm_name_, utf8_string_, wm_protocols_, wm_delete_, net_close_,
      net_wm_pid_, net_wm_check_;
};

}  // namespace

std::unique_ptr<WindowSystem> OpenX11Windows(const std::string& display) {
  if (display.empty()) return nullptr;
  SetUpXlibOnce();
  Display* dpy = XOpenDisplay(display.c_str());
  if (dpy == nullptr) return nullptr;
  return std::make_unique<X11Windows>(dpy);
}

bool DisplayAnswers(const std::string& display) {
  if (display.empty()) return false;
  if (display.find(':') != std::string::npos) {
    SetUpXlibOnce();
    Display* dpy = XOpenDisplay(display.c_str());
    if (dpy == nullptr) return false;
    // A server that goes away right now must not end the program.
    XSetIOErrorExitHandler(dpy, KeepRunning, nullptr);
    XCloseDisplay(dpy);
    return true;
  }
  // A Wayland socket, by its path or by its name in the runtime folder.
  std::string path = display;
  if (path[0] != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    path = std::string(runtime) + "/" + display;
  }
  struct sockaddr_un addr {};
  if (path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

std::unique_ptr<WindowSystem> OpenWindowSystem() {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0') {
    if (auto x11 = OpenX11Windows(display)) return x11;
  }
  return OpenProcessWindows();
}

}  // namespace sentrel

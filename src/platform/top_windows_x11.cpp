// The X11 side of the window seam. libX11 is opened at run time: Sentrel
// starts where it is not installed (a server without a desktop), and the
// terminate action then works on processes.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/top_windows.h"

#ifdef SENTREL_HAVE_X11

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <signal.h>

namespace sentrel {
namespace {

constexpr size_t kMaxTitle = 4096;

// The Xlib calls used here, looked up by name in the library.
#define SENTREL_XLIB_CALLS(X)                                                        \
  X(XInitThreads) X(XSetErrorHandler) X(XSetIOErrorHandler) X(XOpenDisplay)          \
  X(XCloseDisplay) X(XInternAtom) X(XQueryTree) X(XFree) X(XSendEvent) X(XSync)      \
  X(XKillClient) X(XGetWindowProperty) X(XGetWMName) X(Xutf8TextPropertyToTextList)  \
  X(XFreeStringList) X(XGetWMProtocols) X(XGetWMClientMachine)

struct Xlib {
#define SENTREL_XLIB_MEMBER(name) decltype(&::name) name = nullptr;
  SENTREL_XLIB_CALLS(SENTREL_XLIB_MEMBER)
#undef SENTREL_XLIB_MEMBER
  // Only in libX11 1.7 and later; without it a lost connection ends the
  // process, as it did before that version.
  decltype(&::XSetIOErrorExitHandler) XSetIOErrorExitHandler = nullptr;
};

// Windows vanish while they are walked; the errors that follow are expected
// and must neither print nor end the program.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }
int QuietIoError(Display*) { return 0; }
// A lost connection leaves the display unusable; the walk then simply finds
// nothing more, instead of Xlib ending the process.
void KeepRunning(Display*, void*) {}

// The library, loaded and set up once for the process; null when it cannot
// be loaded. It stays loaded until the process ends.
const Xlib* LoadXlib() {
  static const Xlib* const lib = []() -> const Xlib* {
    void* handle = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    auto* x = new Xlib;
    bool complete = true;
#define SENTREL_XLIB_LOOKUP(name)                                       \
  x->name = reinterpret_cast<decltype(x->name)>(dlsym(handle, #name)); \
  complete = complete && x->name != nullptr;
    SENTREL_XLIB_CALLS(SENTREL_XLIB_LOOKUP)
#undef SENTREL_XLIB_LOOKUP
    x->XSetIOErrorExitHandler = reinterpret_cast<decltype(x->XSetIOErrorExitHandler)>(
        dlsym(handle, "XSetIOErrorExitHandler"));
    if (!complete) {
      delete x;
      dlclose(handle);
      return nullptr;
    }
    x->XInitThreads();
    x->XSetErrorHandler(IgnoreXError);
    x->XSetIOErrorHandler(QuietIoError);
    return x;
  }();
  return lib;
}

class X11Windows final : public WindowSystem {
 public:
  X11Windows(const Xlib& x, Display* display) : x_(x), dpy_(display) {
    if (x_.XSetIOErrorExitHandler != nullptr) {
      x_.XSetIOErrorExitHandler(dpy_, KeepRunning, nullptr);
    }
    wm_state_ = x_.XInternAtom(dpy_, "WM_STATE", False);
    net_wm_name_ = x_.XInternAtom(dpy_, "_NET_WM_NAME", False);
    utf8_string_ = x_.XInternAtom(dpy_, "UTF8_STRING", False);
    wm_protocols_ = x_.XInternAtom(dpy_, "WM_PROTOCOLS", False);
    wm_delete_ = x_.XInternAtom(dpy_, "WM_DELETE_WINDOW", False);
    net_close_ = x_.XInternAtom(dpy_, "_NET_CLOSE_WINDOW", False);
    net_wm_pid_ = x_.XInternAtom(dpy_, "_NET_WM_PID", False);
    net_wm_check_ = x_.XInternAtom(dpy_, "_NET_SUPPORTING_WM_CHECK", False);
  }
  ~X11Windows() override { x_.XCloseDisplay(dpy_); }

  std::vector<TopWindow> List() override {
    std::vector<TopWindow> out;
    Window root = DefaultRootWindow(dpy_), parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!x_.XQueryTree(dpy_, root, &root, &parent, &children, &count)) return out;
    // The tree lists the bottom window first.
    for (unsigned int i = count; i-- > 0;) {
      Window client = ClientOf(children[i], 0);
      out.push_back(TopWindow{client, Title(client)});
    }
    if (children != nullptr) x_.XFree(children);
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
      x_.XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                 SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    } else {
      XEvent ev{};
      ev.xclient.type = ClientMessage;
      ev.xclient.window = w;
      ev.xclient.message_type = wm_protocols_;
      ev.xclient.format = 32;
      ev.xclient.data.l[0] = static_cast<long>(wm_delete_);
      ev.xclient.data.l[1] = CurrentTime;
      x_.XSendEvent(dpy_, w, False, NoEventMask, &ev);
    }
    x_.XSync(dpy_, False);
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
      x_.XKillClient(dpy_, w);
      x_.XSync(dpy_, False);
    }
  }

 private:
  bool HasProperty(Window w, Atom prop) {
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    int rc = x_.XGetWindowProperty(dpy_, w, prop, 0, 0, False, AnyPropertyType, &type, &format,
                                &items, &after, &data);
    if (data != nullptr) x_.XFree(data);
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
      if (x_.XQueryTree(dpy_, w, &root, &parent, &children, &count)) {
        Window found = 0;
        for (unsigned int i = count; i-- > 0 && found == 0;) {
          Window c = ClientOf(children[i], depth + 1);
          if (c != children[i] || HasProperty(c, wm_state_)) found = c;
        }
        if (children != nullptr) x_.XFree(children);
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
    if (x_.XGetWindowProperty(dpy_, w, net_wm_name_, 0, kMaxTitle / 4 + 1, False, utf8_string_,
                           &type, &format, &items, &after, &data) == Success &&
        type == utf8_string_ && format == 8 && data != nullptr) {
      title.assign(reinterpret_cast<char*>(data), items);
    }
    if (data != nullptr) x_.XFree(data);
    if (title.empty()) {
      XTextProperty prop{};
      if (x_.XGetWMName(dpy_, w, &prop) && prop.value != nullptr) {
        char** list = nullptr;
        int n = 0;
        if (x_.Xutf8TextPropertyToTextList(dpy_, &prop, &list, &n) >= Success && n > 0 &&
            list != nullptr) {
          title = list[0];
        } else {
          title.assign(reinterpret_cast<char*>(prop.value), prop.nitems);
        }
        if (list != nullptr) x_.XFreeStringList(list);
        x_.XFree(prop.value);
      }
    }
    if (title.size() > kMaxTitle) title.resize(kMaxTitle);
    return title;
  }

  bool HasDeleteProtocol(Window w) {
    Atom* protocols = nullptr;
    int n = 0;
    bool found = false;
    if (x_.XGetWMProtocols(dpy_, w, &protocols, &n)) {
      for (int i = 0; i < n; ++i) found = found || protocols[i] == wm_delete_;
      x_.XFree(protocols);
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
    if (x_.XGetWindowProperty(dpy_, w, prop, 0, 1, False, want, &type, &format, &items, &after,
                           &data) == Success &&
        type == want && format == 32 && items == 1 && data != nullptr) {
      value = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data != nullptr) x_.XFree(data);
    return value;
  }

  // A process id means something only on the machine the program runs on.
  bool OnThisMachine(Window w) {
    XTextProperty prop{};
    if (!x_.XGetWMClientMachine(dpy_, w, &prop) || prop.value == nullptr) return true;
    std::string machine(reinterpret_cast<char*>(prop.value), prop.nitems);
    x_.XFree(prop.value);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    return machine == host;
  }

  const Xlib& x_;
  Display* dpy_;
  Atom wm_state_, net_wm_name_, utf8_string_, wm_protocols_, wm_delete_, net_close_,
      net_wm_pid_, net_wm_check_;
};

}  // namespace

std::unique_ptr<WindowSystem> OpenX11Windows(const std::string& display) {
  if (display.empty()) return nullptr;
  const Xlib* x = LoadXlib();
  if (x == nullptr) return nullptr;
  Display* dpy = x->XOpenDisplay(display.c_str());
  if (dpy == nullptr) return nullptr;
  return std::make_unique<X11Windows>(*x, dpy);
}

// Whether the X server `display` takes a connection. Without libX11 nothing
// can be shown there anyway: the dialog programs need it too.
static bool XServerAnswers(const std::string& display) {
  const Xlib* x = LoadXlib();
  if (x == nullptr) return false;
  Display* dpy = x->XOpenDisplay(display.c_str());
  if (dpy == nullptr) return false;
  // A server that goes away right now must not end the program.
  if (x->XSetIOErrorExitHandler != nullptr) x->XSetIOErrorExitHandler(dpy, KeepRunning, nullptr);
  x->XCloseDisplay(dpy);
  return true;
}

}  // namespace sentrel

#else  // built without the X11 headers

namespace sentrel {

std::unique_ptr<WindowSystem> OpenX11Windows(const std::string&) { return nullptr; }

static bool XServerAnswers(const std::string&) { return false; }

}  // namespace sentrel

#endif  // SENTREL_HAVE_X11

namespace sentrel {

bool DisplayAnswers(const std::string& display) {
  if (display.empty()) return false;
  if (display.find(':') != std::string::npos) return XServerAnswers(display);
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

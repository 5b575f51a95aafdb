// Opens one X window per title given, the last one on top, and answers the
// close request by closing that window and writing "closed <title>" to the
// log file. Writes "ready" once all windows are shown; ends when its last
// window is closed, when the X server goes, or after a minute at most.
//
//   x_windows --display D --log FILE [--ignore-close] TITLE...
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/prctl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

static void Log(const std::string& path, const std::string& line) {
  FILE* f = std::fopen(path.c_str(), "a");
  if (f == nullptr) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

int main(int argc, char** argv) {
  // Never outlive the test that started us.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  alarm(60);
  std::string log, display;
  bool ignore_close = false;
  std::vector<std::string> titles;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--log" && i + 1 < argc) {
      log = argv[++i];
    } else if (a == "--display" && i + 1 < argc) {
      display = argv[++i];
    } else if (a == "--ignore-close") {
      ignore_close = true;
    } else {
      titles.push_back(a);
    }
  }
  Display* dpy = XOpenDisplay(display.empty() ? nullptr : display.c_str());
  if (dpy == nullptr) return 2;
  Atom net_wm_name = XInternAtom(dpy, "_NET_WM_NAME", False);
  Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
  Atom net_wm_pid = XInternAtom(dpy, "_NET_WM_PID", False);
  Atom wm_delete = XInternAtom(dpy, "WM_DELETE_WINDOW", False);
  std::map<Window, std::string> open;
  for (const std::string& title : titles) {
    Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 120, 80, 0, 0, 0);
    XStoreName(dpy, w, title.c_str());
    XChangeProperty(dpy, w, net_wm_name, utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title.data()),
                    static_cast<int>(title.size()));
    long pid = getpid();
    XChangeProperty(dpy, w, net_wm_pid, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    XSetWMProtocols(dpy, w, &wm_delete, 1);
    XMapRaised(dpy, w);
    open[w] = title;
  }
  XSync(dpy, False);
  Log(log, "ready");
  while (!open.empty()) {
    XEvent ev;
    XNextEvent(dpy, &ev);
    if (ev.type != ClientMessage || static_cast<Atom>(ev.xclient.data.l[0]) != wm_delete) continue;
    auto it = open.find(ev.xclient.window);
    if (it == open.end()) continue;
    Log(log, "closed " + it->second);
    if (ignore_close) continue;
    XDestroyWindow(dpy, it->first);
    XSync(dpy, False);
    open.erase(it);
  }
  XCloseDisplay(dpy);
  return 0;
}

// How the window tells the desktop it is Vorlix's: its class (WM_CLASS
// "vorlix", "Vorlix"), by which window managers and docks match it with
// Vorlix's desktop entry and their own rules, its icon (_NET_WM_ICON, at
// 48 and 128 pixels), for those that don't look the entry up, and its
// process (_NET_WM_PID), by which the launcher finds it. A window
// manager reads both when it takes the window, as it is first mapped. The
// toolkit creates and maps the window in one call, glutCreateWindow, and
// sets neither; its call to map the window comes here, to the viewer's own
// XMapWindow, which sets them first. The viewer's one word to the window
// system past the toolkit.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <unistd.h>

#include "window_icon.h" // made from data/icons at build time

extern "C" int XMapWindow(Display *display, Window window) {
  char name[] = "vorlix", className[] = "Vorlix";
  XClassHint hint = {name, className};
  XSetClassHint(display, window, &hint);
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_ICON", False),
                  XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(kWindowIcon),
                  int(sizeof kWindowIcon / sizeof *kWindowIcon));
  unsigned long pid = (unsigned long)getpid();
  XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False),
                  XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char *>(&pid), 1);
  using Map = int (*)(Display *, Window);
  static Map map = reinterpret_cast<Map>(dlsym(RTLD_NEXT, "XMapWindow"));
  return map(display, window);
}

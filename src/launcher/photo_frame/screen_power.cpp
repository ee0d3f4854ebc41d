#include "launcher/photo_frame/screen_power.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/dpms.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

Atom atom(Display *d, const char *name) {
  return XInternAtom(d, name, False);
}

// A window's 32-bit property's first value, or 0.
unsigned long cardinal(Display *d, Window w, Atom property) {
  Atom type;
  int format = 0;
  unsigned long count = 0, after = 0, value = 0;
  unsigned char *data = nullptr;
  if (XGetWindowProperty(d, w, property, 0, 1, False, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success &&
      data != nullptr && format == 32 && count == 1)
    value = *reinterpret_cast<unsigned long *>(data);
  if (data != nullptr)
    XFree(data);
  return value;
}

bool isViewers(Display *d, Window w, pid_t viewer) {
  XClassHint hint = {};
  bool vorlix = XGetClassHint(d, w, &hint) && hint.res_name != nullptr &&
                std::strcmp(hint.res_name, "vorlix") == 0;
  if (hint.res_name != nullptr)
    XFree(hint.res_name);
  if (hint.res_class != nullptr)
    XFree(hint.res_class);
  unsigned long pid = vorlix ? cardinal(d, w, atom(d, "_NET_WM_PID")) : 0;
  return vorlix && (pid == 0 || pid == (unsigned long)viewer);
}

// Looks through the tree below `w`, as deep as a window manager's frames.
Window findBelow(Display *d, Window w, pid_t viewer, int depth) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned count = 0;
  if (!XQueryTree(d, w, &root, &parent, &children, &count))
    return 0;
  for (unsigned i = 0; i < count && found == 0; i++)
    if (isViewers(d, children[i], viewer))
      found = children[i];
    else if (depth > 0)
      found = findBelow(d, children[i], viewer, depth - 1);
  if (children != nullptr)
    XFree(children);
  return found;
}

// Whether an EWMH window manager runs: its check window names itself.
bool windowManagerRuns(Display *d) {
  Atom check = atom(d, "_NET_SUPPORTING_WM_CHECK");
  Window w = Window(cardinal(d, DefaultRootWindow(d), check));
  return w != 0 && Window(cardinal(d, w, check)) == w;
}

void hidePointer(Display *d, Window w) {
  char none = 0;
  Pixmap blank = XCreateBitmapFromData(d, w, &none, 1, 1);
  XColor black = {};
  Cursor cursor = XCreatePixmapCursor(d, blank, blank, &black, &black, 0, 0);
  XDefineCursor(d, w, cursor);
  XFreeCursor(d, cursor);
  XFreePixmap(d, blank);
}

// Runs wlopm with `power` for every output; whether it did.
bool wlopm(const char *power) {
  if (!UnderWayland())
    return false;
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    execlp("wlopm", "wlopm", power, "*", static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

} // namespace

Window FindViewerWindow(Display *display, pid_t viewer) {
  return findBelow(display, DefaultRootWindow(display), viewer, 2);
}

void FillTheScreen(Display *d, Window w) {
  if (windowManagerRuns(d)) {
    XEvent e = {};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = atom(d, "_NET_WM_STATE");
    e.xclient.format = 32;
    e.xclient.data.l[0] = 1; // add
    e.xclient.data.l[1] = long(atom(d, "_NET_WM_STATE_FULLSCREEN"));
    e.xclient.data.l[3] = 1; // from an application
    XSendEvent(d, DefaultRootWindow(d), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &e);
  } else {
    XMoveResizeWindow(d, w, 0, 0, unsigned(DisplayWidth(d, DefaultScreen(d))),
                      unsigned(DisplayHeight(d, DefaultScreen(d))));
    XRaiseWindow(d, w);
  }
  hidePointer(d, w);
  XFlush(d);
}

bool TurnTheScreen(Display *d, bool on) {
  int event = 0, error = 0;
  if (d != nullptr && DPMSQueryExtension(d, &event, &error) && DPMSCapable(d)) {
    if (!on)
      DPMSEnable(d);
    bool done = DPMSForceLevel(d, on ? DPMSModeOn : DPMSModeOff);
    XFlush(d);
    if (done)
      return true;
  }
  return wlopm(on ? "--on" : "--off");
}

Window CoverTheScreen(Display *d, Window cover) {
  if (cover != 0) {
    XDestroyWindow(d, cover);
    XFlush(d);
    return 0;
  }
  XSetWindowAttributes a = {};
  a.override_redirect = True;
  a.background_pixel = BlackPixel(d, DefaultScreen(d));
  Window w = XCreateWindow(d, DefaultRootWindow(d), 0, 0,
                           unsigned(DisplayWidth(d, DefaultScreen(d))),
                           unsigned(DisplayHeight(d, DefaultScreen(d))), 0,
                           CopyFromParent, InputOutput, CopyFromParent,
                           CWOverrideRedirect | CWBackPixel, &a);
  hidePointer(d, w);
  XMapRaised(d, w);
  XFlush(d);
  return w;
}

bool UnderWayland() {
  return std::getenv("WAYLAND_DISPLAY") != nullptr;
}

void HideTheViewer(Display *d, Window viewer, bool hide) {
  if (hide)
    XUnmapWindow(d, viewer);
  else
    XMapRaised(d, viewer);
  XSync(d, False);
  if (hide)
    usleep(1000 * 1000); // a frame or two drawn without it, cores busy
}

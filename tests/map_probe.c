/* Preloaded into the viewer to see its window as a window manager first
 * does, at the very moment the viewer asks for it to be shown: the
 * viewer's own XMapWindow passes the call on to the next definition, this
 * one, which says on standard error what class the window carries then,
 * and passes the call on to libX11's. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <stdio.h>

int XMapWindow(Display *display, Window window) {
  XClassHint hint = {NULL, NULL};
  if (XGetClassHint(display, window, &hint)) {
    fprintf(stderr, "asked to map a window of class %s, %s\n", hint.res_name,
            hint.res_class);
    XFree(hint.res_name);
    XFree(hint.res_class);
  } else {
    fprintf(stderr, "asked to map a window without a class\n");
  }
  int (*map)(Display *, Window);
  *(void **)&map = dlsym(RTLD_NEXT, "XMapWindow");
  return map(display, window);
}

#include "picture/viewer/decoders/screen.h"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <string>

#include "picture/decoding_limits.h"

ScreenFacts ReadScreen() {
  ScreenFacts screen;
  screen.height = kFallbackScreenHeight;
  Display *display = glXGetCurrentDisplay();
  GLXDrawable window = glXGetCurrentDrawable();
  XWindowAttributes attributes;
  if (display == nullptr || window == None ||
      !XGetWindowAttributes(display, window, &attributes))
    return screen;
  if (HeightOfScreen(attributes.screen) > 0)
    screen.height = HeightOfScreen(attributes.screen);
  // Screen 0's is _ICC_PROFILE, screen n's _ICC_PROFILE_n.
  int number = XScreenNumberOfScreen(attributes.screen);
  std::string name = "_ICC_PROFILE";
  if (number > 0)
    name += "_" + std::to_string(number);
  Atom atom = XInternAtom(display, name.c_str(), True);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *data = nullptr;
  if (atom == None ||
      XGetWindowProperty(display, attributes.root, atom, 0,
                         long(kMaxProfileBytes / 4), False, AnyPropertyType,
                         &type, &format, &items, &after, &data) != Success)
    return screen;
  if (format == 8 && after == 0 && items > 0) {
    screen.profile = data;
    screen.profileSize = items;
    screen.owner = data;
  } else if (data != nullptr) {
    XFree(data);
  }
  return screen;
}

void ReleaseScreen(ScreenFacts &screen) {
  if (screen.owner != nullptr)
    XFree(screen.owner);
  screen = {};
}

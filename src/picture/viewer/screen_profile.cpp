#include "picture/viewer/screen_profile.h"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <string>

#include "picture/decoding_limits.h"

ScreenProfile ReadScreenProfile() {
  ScreenProfile profile;
  Display *display = glXGetCurrentDisplay();
  GLXDrawable window = glXGetCurrentDrawable();
  XWindowAttributes attributes;
  if (display == nullptr || window == None ||
      !XGetWindowAttributes(display, window, &attributes))
    return profile;
  // Screen 0's is _ICC_PROFILE, screen n's _ICC_PROFILE_n.
  int screen = XScreenNumberOfScreen(attributes.screen);
  std::string name = "_ICC_PROFILE";
  if (screen > 0)
    name += "_" + std::to_string(screen);
  Atom atom = XInternAtom(display, name.c_str(), True);
  Atom type = None;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *data = nullptr;
  if (atom == None ||
      XGetWindowProperty(display, attributes.root, atom, 0,
                         long(kMaxProfileBytes / 4), False, AnyPropertyType,
                         &type, &format, &items, &after, &data) != Success)
    return profile;
  if (format == 8 && after == 0 && items > 0) {
    profile.bytes = data;
    profile.size = items;
    profile.owner = data;
  } else if (data != nullptr) {
    XFree(data);
  }
  return profile;
}

void ReleaseScreenProfile(ScreenProfile &profile) {
  if (profile.owner != nullptr)
    XFree(profile.owner);
  profile = {};
}

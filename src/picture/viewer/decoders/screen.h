// What the viewer reads of its screen once per load, for its decoders: the
// screen's colour profile, where a colour manager (colord, a calibration
// tool) publishes it for programs (the _ICC_PROFILE property of the
// screen's root window, "ICC Profiles in X"), and the screen's height, which
// bounds how large a picture can be seen on a face. The viewer, which holds
// the X connection, reads the profile's bytes; decoders read the profile
// itself, in their sandbox.
#pragma once

#include <cstddef>

struct ScreenFacts {
  const unsigned char *profile = nullptr; // none: null
  size_t profileSize = 0;
  void *owner = nullptr;
  int height = 0; // in pixels: its root window's
};

// The screen the current GL drawable is on: its profile (none where the
// screen has none, or one larger than kMaxProfileBytes) and its height
// (kFallbackScreenHeight where it can't be asked).
ScreenFacts ReadScreen();
void ReleaseScreen(ScreenFacts &screen);

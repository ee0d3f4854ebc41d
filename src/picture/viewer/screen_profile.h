// The screen's colour profile, where a colour manager (colord, a
// calibration tool) publishes it for programs: the _ICC_PROFILE property of
// the screen's root window ("ICC Profiles in X"). The viewer, which holds
// the X connection, reads its bytes; decoders read the profile itself, in
// their sandbox.
#pragma once

#include <cstddef>

struct ScreenProfile {
  const unsigned char *bytes = nullptr;
  size_t size = 0;
  void *owner = nullptr;
};

// The profile of the screen the current GL drawable is on; none where the
// screen has none, or one larger than kMaxProfileBytes.
ScreenProfile ReadScreenProfile();
void ReleaseScreenProfile(ScreenProfile &profile);

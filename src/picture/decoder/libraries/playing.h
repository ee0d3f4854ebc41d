// The playing of one animation, through the library that plays its kind
// (library.h): from its first frame to its last, and round again as often
// as the file says.
#pragma once

#include <cstddef>

#include "picture/decoder/libraries/library.h"

// Whether a picture of this kind is an animation whose frames can be asked
// for here; and whether its still is its first frame, read by its animator.
bool PictureMoves(int kind, const unsigned char *file, size_t size);
bool StillIsFirstFrame(int kind, const unsigned char *file, size_t size,
                       bool moving);

// The one animation a decoder plays.
struct Playing {
  const Library *animator = nullptr;
  void *animation = nullptr;
  const unsigned char *file = nullptr;
  size_t size = 0;
  int plays = 0, played = 0;
  int framesThisPlay = 0;
  // A clip's: the viewer's clock and the size asked, the time its earlier
  // plays took, and when the last frame handed over ends within its play.
  ShownSize shown = {0, 0};
  int64_t playedUs = -1, earlierPlaysUs = 0, endUs = 0;
};

// Starts playing; false where the file is no animation.
bool StartPlaying(Playing &p, int kind, const unsigned char *file, size_t size);
// The next frame, going round again at the end as often as the file says;
// false once it has played as often, or where it broke off before showing
// any frame of a play.
bool NextFrame(Playing &p, DecodedPicture &frame, int &delayMs);
void StopPlaying(Playing &p);
// Tells a clip's animator the size its frames are shown at and how far its
// playing has got by the viewer's clock, over all its plays (-1: no clock
// yet).
void KeepUp(Playing &p, ShownSize shown, int64_t playedUs);
// When the frame last handed over is due, over all the plays.
int64_t FrameDueUs(const Playing &p, const DecodedPicture &frame);

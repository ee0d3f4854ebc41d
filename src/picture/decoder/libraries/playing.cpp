#include "picture/decoder/libraries/playing.h"

#include <algorithm>

#include "picture/decoder/libraries/motion_photo.h"
#include "picture/kinds.h"

bool PictureMoves(int kind, const unsigned char *file, size_t size) {
  // A Motion Photo is told by its own bytes, in any decoder: FFmpeg, which
  // plays its clip, is loaded only by the decoder that plays it.
  if (MayHoldAClip(kind))
    return MotionPhotoClip(file, size).size > 0;
  const Library *a = AnimatorFor(kind);
  return a != nullptr && a->moving(file, size);
}

bool StillIsFirstFrame(int kind, const unsigned char *file, size_t size,
                       bool moving) {
  const Library *a = AnimatorFor(kind);
  return a != nullptr && a->stillIsFirstFrame(file, size, moving);
}

bool StartPlaying(Playing &p, int kind, const unsigned char *file,
                  size_t size) {
  p = {};
  p.animator = AnimatorFor(kind);
  if (p.animator == nullptr)
    return false;
  p.file = file;
  p.size = size;
  p.animation = p.animator->open(file, size, p.plays);
  return p.animation != nullptr;
}

namespace {

void tellClock(Playing &p) {
  if (p.animation != nullptr && p.animator->keepUp != nullptr)
    p.animator->keepUp(
        p.animation, p.shown,
        p.playedUs < 0 ? -1
                       : std::max<int64_t>(0, p.playedUs - p.earlierPlaysUs));
}

bool next(Playing &p, DecodedPicture &frame, int &delayMs) {
  if (!p.animator->next(p.animation, frame, delayMs))
    return false;
  p.framesThisPlay++;
  p.endUs = frame.atUs + int64_t(delayMs) * 1000;
  return true;
}

} // namespace

void KeepUp(Playing &p, ShownSize shown, int64_t playedUs) {
  p.shown = shown;
  p.playedUs = playedUs;
  tellClock(p);
}

int64_t FrameDueUs(const Playing &p, const DecodedPicture &frame) {
  return p.earlierPlaysUs + frame.atUs;
}

bool NextFrame(Playing &p, DecodedPicture &frame, int &delayMs) {
  if (p.animation == nullptr)
    return false;
  if (next(p, frame, delayMs))
    return true;
  // The end of a play: another, from the start, where the file asks for
  // one and this one showed something.
  p.played++;
  bool again = p.framesThisPlay > 0 && (p.plays == 0 || p.played < p.plays);
  p.animator->close(p.animation);
  int plays = 0;
  p.animation = again ? p.animator->open(p.file, p.size, plays) : nullptr;
  p.framesThisPlay = 0;
  p.earlierPlaysUs += p.endUs;
  p.endUs = 0;
  tellClock(p);
  return p.animation != nullptr && next(p, frame, delayMs);
}

void StopPlaying(Playing &p) {
  if (p.animation != nullptr)
    p.animator->close(p.animation);
  p = {};
}

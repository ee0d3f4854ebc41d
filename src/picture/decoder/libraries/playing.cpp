#include "picture/decoder/libraries/playing.h"

bool PictureMoves(int kind, const unsigned char *file, size_t size) {
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

bool NextFrame(Playing &p, DecodedPicture &frame, int &delayMs) {
  if (p.animation == nullptr)
    return false;
  if (p.animator->next(p.animation, frame, delayMs)) {
    p.framesThisPlay++;
    return true;
  }
  // The end of a play: another, from the start, where the file asks for
  // one and this one showed something.
  p.played++;
  bool again = p.framesThisPlay > 0 && (p.plays == 0 || p.played < p.plays);
  p.animator->close(p.animation);
  int plays = 0;
  p.animation = again ? p.animator->open(p.file, p.size, plays) : nullptr;
  p.framesThisPlay = 0;
  if (p.animation == nullptr || !p.animator->next(p.animation, frame, delayMs))
    return false;
  p.framesThisPlay++;
  return true;
}

void StopPlaying(Playing &p) {
  if (p.animation != nullptr)
    p.animator->close(p.animation);
  p = {};
}

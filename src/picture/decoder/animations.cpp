#include "picture/decoder/animations.h"

#include <cstring>

#include "picture/kinds.h"

namespace {

// How each animated kind is read. libjxl is loaded with the JPEG XL reader
// (readers.h), and is ready only where that loaded it; the others are
// linked in but libavif, which brings its codecs.
// clang-format off
const Animator kAnimators[] = {
  // kind       library                  still is the first frame  ready      moving      open      next      close
  {"GIF",     "giflib",                     WhereItMoves,          nullptr,   GifMoving,  GifOpen,  GifNext,  GifClose},
  {"PNG",     "libpng, APNG's chunks here", ApngStillIsFirstFrame, nullptr,   ApngMoving, ApngOpen, ApngNext, ApngClose},
  {"WebP",    "libwebp's demuxer",          WhereItMoves,          nullptr,   WebpMoving, WebpOpen, WebpNext, WebpClose},
  {"AVIF",    "libavif",                    WhereItMoves,          AvifReady, AvifMoving, AvifOpen, AvifNext, AvifClose},
  {"JPEG XL", "libjxl",                     WhereItMoves,          JxlLoaded, JxlMoving,  JxlOpen,  JxlNext,  JxlClose},
};
// clang-format on

// Which animators are ready in this process.
bool ready[sizeof kAnimators / sizeof *kAnimators];

int rowOf(int kind) {
  if (kind < 0 || kind >= kPictureKindCount)
    return -1;
  for (size_t a = 0; a < sizeof kAnimators / sizeof *kAnimators; a++)
    if (std::strcmp(kAnimators[a].kind, kPictureKinds[kind].name) == 0)
      return int(a);
  return -1;
}

} // namespace

const Animator *AnimatorFor(int kind) {
  int row = rowOf(kind);
  return row >= 0 && ready[row] ? &kAnimators[row] : nullptr;
}

void ReadyAnimators(unsigned kinds) {
  for (int kind = 0; kind < kPictureKindCount; kind++) {
    int row = rowOf(kind);
    if (row < 0)
      continue;
    bool wanted = kAnimators[row].ready == nullptr || (kinds & (1u << kind));
    ready[row] = ready[row] || (wanted && (kAnimators[row].ready == nullptr ||
                                           kAnimators[row].ready()));
  }
}

bool PictureMoves(int kind, const unsigned char *file, size_t size) {
  const Animator *a = AnimatorFor(kind);
  return a != nullptr && a->moving(file, size);
}

bool StillIsFirstFrame(int kind, const unsigned char *file, size_t size,
                       bool moving) {
  const Animator *a = AnimatorFor(kind);
  return a != nullptr && a->stillIsFirstFrame(file, size, moving);
}

bool WhereItMoves(const unsigned char *, size_t, bool moving) {
  return moving;
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

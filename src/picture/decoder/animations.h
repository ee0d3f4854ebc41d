// Animated pictures, frame by frame: one animator per library behind the
// same calls, as one table, and the playing of one animation (from its
// first frame to its last, and round again as often as the file says). An
// animator keeps one canvas, never the frames: each is composited onto it
// as the format says and handed over from there.
#pragma once

#include <cstddef>

#include "picture/decoder/readers.h"

struct Animator {
  const char *kind;    // its row in the table of kinds, by name
  const char *library; // as the README names it
  // Whether a picture's still is its animation's first frame (`moving`:
  // whether it moves), read here, one frame, rather than by a still reader
  // (which may read every frame). An APNG's still is its default image, but
  // where that is no frame and the animation has one frame of its own.
  bool (*stillIsFirstFrame)(const unsigned char *file, size_t size,
                            bool moving);
  // Loads its library before the sandbox goes on (or finds it loaded by
  // its reader); null where it is linked in. False where it can't be
  // loaded: the animator is then not there, and its kind does not move.
  bool (*ready)();
  // Whether the file is an animation of more than one frame: a look at its
  // structure, without decoding.
  bool (*moving)(const unsigned char *file, size_t size);
  // Starts on an animation; null where the file is none. `plays`: how
  // often it is played through, 0 for ever.
  void *(*open)(const unsigned char *file, size_t size, int &plays);
  // The next frame, whole, and how long it is shown, in milliseconds; false
  // at the end of the animation, or where the file breaks off or breaks
  // the format. The frame is the animator's until the next call.
  bool (*next)(void *animation, DecodedPicture &frame, int &delayMs);
  void (*close)(void *animation);
};

// The animator for a kind, or null for kinds that don't move.
const Animator *AnimatorFor(int kind);

// Readies the animators of these kinds (1 << kind) that load their
// libraries when needed.
void ReadyAnimators(unsigned kinds);

// Whether a picture of this kind is an animation whose frames can be asked
// for here; and whether its still is its first frame, read here.
bool PictureMoves(int kind, const unsigned char *file, size_t size);
bool StillIsFirstFrame(int kind, const unsigned char *file, size_t size,
                       bool moving);

// The still of a picture that moves is its first frame (GIF, WebP, AVIF,
// JPEG XL).
bool WhereItMoves(const unsigned char *file, size_t size, bool moving);

// The one animation a decoder plays.
struct Playing {
  const Animator *animator = nullptr;
  void *animation = nullptr;
  const unsigned char *file = nullptr;
  size_t size = 0;
  int plays = 0, played = 0;
  int framesThisPlay = 0;
};

// Starts playing; false where the file is no animation.
bool StartPlaying(Playing &p, int kind, const unsigned char *file, size_t size);
// The next frame, going round again at the end as often as the file says;
// false once it has played as often, or where it broke off before showing
// any frame of a play.
bool NextFrame(Playing &p, DecodedPicture &frame, int &delayMs);
void StopPlaying(Playing &p);

// Each animator's own file.
bool GifMoving(const unsigned char *file, size_t size);
void *GifOpen(const unsigned char *file, size_t size, int &plays);
bool GifNext(void *animation, DecodedPicture &frame, int &delayMs);
void GifClose(void *animation);
bool ApngMoving(const unsigned char *file, size_t size);
bool ApngStillIsFirstFrame(const unsigned char *file, size_t size, bool moving);
void *ApngOpen(const unsigned char *file, size_t size, int &plays);
bool ApngNext(void *animation, DecodedPicture &frame, int &delayMs);
void ApngClose(void *animation);
bool WebpMoving(const unsigned char *file, size_t size);
void *WebpOpen(const unsigned char *file, size_t size, int &plays);
bool WebpNext(void *animation, DecodedPicture &frame, int &delayMs);
void WebpClose(void *animation);
bool AvifReady();
bool AvifMoving(const unsigned char *file, size_t size);
void *AvifOpen(const unsigned char *file, size_t size, int &plays);
bool AvifNext(void *animation, DecodedPicture &frame, int &delayMs);
void AvifClose(void *animation);
bool JxlLoaded();
bool JxlMoving(const unsigned char *file, size_t size);
void *JxlOpen(const unsigned char *file, size_t size, int &plays);
bool JxlNext(void *animation, DecodedPicture &frame, int &delayMs);
void JxlClose(void *animation);

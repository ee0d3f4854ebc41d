// One image library a decoder reads or plays pictures with: a file of its
// own in this folder holds its code and ends with the one structure that
// describes it, its reader of stills and its animator; libraries.cpp lists
// them by id (PictureReader, picture/libraries.h). A reader decodes a whole
// file from memory; an animator composites an animation's frames onto one
// canvas, never holding them all. What is done to the pixels after them is
// in ../pixels.
#pragma once

#include <cstddef>
#include <dlfcn.h>

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/libraries.h"
#include "picture/protocol.h"

struct Library {
  const char *name; // as the README's table of pictures names it
  // Readies it before the sandbox goes on for the kinds given (1 << kind)
  // of those it reads or plays, and returns those it can then serve (0
  // where its library could not be loaded). One readied only when needed
  // (kReadiedWhenNeeded) loads its library here, in the decoders started for
  // its kinds; another does here, in every decoder, what its library does
  // the first time it runs (opens a file). Null: ready in every decoder as
  // it is.
  unsigned (*ready)(unsigned kinds);

  // Its reader: null where it reads no stills. Reads a whole file of a
  // kind (a row of the kind table), no larger than `shown` asks where it
  // decodes smaller (kDecodeSmaller); false when it can't, with nothing to
  // release then.
  bool (*read)(const unsigned char *file, size_t size, int kind,
               ShownSize shown, DecodedPicture &out);
  void (*release)(DecodedPicture &picture);

  // Its animator: null where it plays none.
  // Whether a picture's still is its animation's first frame (`moving`:
  // whether it moves), read by the animator, one frame, rather than by a
  // still reader (which may read every frame).
  bool (*stillIsFirstFrame)(const unsigned char *file, size_t size,
                            bool moving);
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
  // For a clip's animator (null for others): the size its frames are shown
  // at, and how far its play has got by the viewer's clock (-1: no clock
  // yet), the frames due before then dropped. Told before a frame is asked.
  void (*keepUp)(void *animation, ShownSize shown, int64_t playedUs) = nullptr;
};

// Every library, by id.
extern const Library *const kLibraries[kLibraryCount];

// Readies the libraries before the sandbox goes on: those readied only when
// needed for the kinds given (1 << kind) that they read or play, the others
// for all theirs.
void ReadyLibraries(unsigned kinds);
// Whether library `id` reads or plays pictures of `kind` in this process.
bool Serves(int id, int kind);
// Whether it serves any kind here.
bool ServesAny(int id);
// The library that plays the kind's animations here, or null.
const Library *AnimatorFor(int kind);

// For an animator: the still of a picture that moves is its first frame.
bool WhereItMoves(const unsigned char *file, size_t size, bool moving);

// For the libraries opened when needed: sets `f` to the call `name` of the
// library opened as `lib`; false where it has none.
template <typename F> bool FindCall(void *lib, const char *name, F &f) {
  f = reinterpret_cast<F>(dlsym(lib, name));
  return f != nullptr;
}

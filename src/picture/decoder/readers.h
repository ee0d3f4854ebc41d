// The image libraries a decoder reads pictures with, as one table: a row
// each, in the order they are tried (PictureReader, protocol.h), each
// reader in a file of its own behind the same calls: read a whole file from
// memory, and release what was read. A reader decodes; the hand-over
// (handover.h) copies the picture to the viewer, in the screen's colours
// (colour.h).
#pragma once

#include <cstddef>
#include <dlfcn.h>

#include "picture/protocol.h"

// A picture as a reader decoded it: `height` rows of `width` pixels of
// `channels` bytes (grey, grey + alpha, RGB, RGBA), top row first, `stride`
// bytes apart. Held by the reader until released.
struct DecodedPicture {
  const unsigned char *pixels = nullptr;
  int width = 0, height = 0, channels = 0;
  size_t stride = 0;
  // How the pixels are still to be turned to be shown, as an EXIF
  // Orientation (1: as they are). Set to the file's own before a reader
  // reads; a reader that turns the pixels itself says what is left.
  int orientation = 1;
  // Four channels of printing inks rather than RGBA (CMYK JPEGs), stored
  // as they are or inverted (Adobe's way).
  enum Inks { kNoInks, kCmyk, kCmykInverted } inks = kNoInks;
  // The colour profile, where the reader's library hands it over.
  const unsigned char *icc = nullptr;
  size_t iccSize = 0;
  void *owner = nullptr, *iccOwner = nullptr; // what the reader frees
};

struct Reader {
  const char *name; // as the README's table of pictures names it
  // Null for a reader that is ready in every decoder as it is. A reader
  // readied only when needed (protocol.h: kReadiedWhenNeeded) loads its
  // library here, for the kinds given (1 << kind), before the sandbox goes
  // on; it returns the kinds it can then read. A reader ready in every
  // decoder whose library does something of its own the first time it runs
  // (opens a file) has it done here, in every decoder. Those that decode
  // smaller themselves (kDecodeSmaller) are asked for no more than `shown`; the
  // hand-over makes the pictures of the others smaller.
  unsigned (*ready)(unsigned kinds);
  // Reads a whole file of a kind (a row of the kind table, kinds.h), no
  // larger than `shown` asks where it decodes smaller; false when it can't,
  // with nothing to release then.
  bool (*read)(const unsigned char *file, size_t size, int kind,
               ShownSize shown, DecodedPicture &out);
  void (*release)(DecodedPicture &picture);
};

extern const Reader kReaders[kReaderCount];

// For the readers whose libraries are opened when needed: sets `f` to the
// call `name` of the library opened as `lib`; false where it has none.
template <typename F> bool FindCall(void *lib, const char *name, F &f) {
  f = reinterpret_cast<F>(dlsym(lib, name));
  return f != nullptr;
}

// Each reader's own file.
bool SoilRead(const unsigned char *file, size_t size, int kind, ShownSize shown,
              DecodedPicture &out);
void SoilRelease(DecodedPicture &picture);
unsigned LibjpegReady(unsigned kinds);
bool LibjpegRead(const unsigned char *file, size_t size, int kind,
                 ShownSize shown, DecodedPicture &out);
void LibjpegRelease(DecodedPicture &picture);
unsigned PixbufReady(unsigned kinds);
bool PixbufRead(const unsigned char *file, size_t size, int kind,
                ShownSize shown, DecodedPicture &out);
void PixbufRelease(DecodedPicture &picture);
unsigned JxlReady(unsigned kinds);
bool JxlRead(const unsigned char *file, size_t size, int kind, ShownSize shown,
             DecodedPicture &out);
void JxlRelease(DecodedPicture &picture);
unsigned RsvgReady(unsigned kinds);
bool RsvgRead(const unsigned char *file, size_t size, int kind, ShownSize shown,
              DecodedPicture &out);
void RsvgRelease(DecodedPicture &picture);
unsigned LibrawReady(unsigned kinds);
bool LibrawRead(const unsigned char *file, size_t size, int kind,
                ShownSize shown, DecodedPicture &out);
void LibrawRelease(DecodedPicture &picture);
bool GiflibRead(const unsigned char *file, size_t size, int kind,
                ShownSize shown, DecodedPicture &out);
void GiflibRelease(DecodedPicture &picture);

// The kinds of picture file the loader knows, as one table: how each is
// recognised, how its header gives its size, which readers may read it, how
// it says which way up it is shown, and what decoding it costs. The viewer's
// side uses it to budget and queue a picture, the decoder's side to choose its
// readers. A kind is its row's index in the table; adding a kind is adding a
// row.
#pragma once

#include <cstddef>
#include <cstdint>

struct PictureKind {
  const char *name;
  // Whether a file's first kHeadBytes bytes are this kind's signature.
  bool (*matches)(const unsigned char *head);
  // Width times height as the header of the regular file open on `fd`
  // declares it; 0 where it can't be told. Null: the header can't tell.
  uint64_t (*declaredPixels)(int fd, const unsigned char *head);
  uint32_t readers; // 1 << PictureReader for each that may read it
  int soilChannels; // 0: as the file has them; else ask SOIL for these
  // GdkPixbuf's loader for it, when GdkPixbuf reads it, and whether that
  // loader turns the picture as its metadata says itself, leaving what it
  // did not do in the picture's "orientation" option.
  const char *pixbufModule;
  bool pixbufTurns;
  // How the file says it is to be turned to be shown (orientation.h), read
  // by the decoder; null where the readers do it themselves or the format
  // can't say.
  int (*orientation)(const unsigned char *file, size_t size);
  // How many pixels one byte of the file can expand to: an upper bound from
  // the format's best possible compression.
  double maxPixelsPerByte;
  // How fast the slower of its readers turns out pixels, measured on
  // 2000 x 1500 to 6000 x 4000 pictures of random noise, the slowest content
  // to decode.
  double nsPerPixel;
};

extern const PictureKind kPictureKinds[];
extern const int kPictureKindCount;

// How many of a file's first bytes tell its kind.
constexpr int kHeadBytes = 32;

// The kind whose signature `head` starts with; the last row (TGA, which has
// no signature, and anything not recognised) when none.
int PictureKindOf(const unsigned char *head);

// The kinds of picture file Vorlix reads, as one table: what their files
// are named, how each is recognised, how its header gives its size, which
// readers may read it, where it keeps its metadata, and what decoding it
// costs. The launcher chooses pictures by it, the viewer's side budgets and
// queues them by it, the decoder's side chooses its readers by it. A kind is
// its row's index in the table; adding a kind is adding a row.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/bytes.h"
#include "picture/kind_headers.h"

// Where a kind of file keeps the metadata a decoder reads from it (which way
// up it is shown, which colours it means), when the reader does not.
enum class MetadataIn {
  Nowhere,
  JpegSegments,
  PngChunks,
  RiffChunks,
  IsoBoxes
};

struct PictureKind {
  const char *name;
  // The endings of its files' names, as cameras and file managers give
  // them, each with its dot and followed by a space; any case matches.
  const char *endings;
  // Whether a file's first kHeadBytes bytes (fewer in a shorter file, the
  // rest zero) are this kind's signature.
  bool (*matches)(const unsigned char *head);
  // For a kind whose first bytes can't tell it from others, whether what
  // the file holds further in is of this kind; null for the others.
  bool (*holds)(const ByteSource &file);
  // The size its header declares; 0 x 0 where it can't be told. Null: the
  // header does not say.
  PictureSize (*declaredSize)(const ByteSource &file);
  uint32_t readers; // 1 << PictureReader for each that may read it
  // The channels its pixels have as its header says (1 grey, 2 grey and
  // alpha, 3 RGB, 4 RGBA), for SOIL, which is always asked for a count and
  // then hands over exactly that many; 0 where the header is broken. Null
  // for the kinds SOIL does not read.
  int (*channels)(const ByteSource &file);
  // Whether an alpha channel that is 0 in every pixel means no transparency
  // but a fourth byte left unused, as 32-bit BMP and TGA writers leave it
  // (and browsers take it).
  bool unusedAlpha;
  // GdkPixbuf's loader for it, when GdkPixbuf reads it, and whether that
  // loader turns the picture as its metadata says itself, leaving what it
  // did not do in the picture's "orientation" option.
  const char *pixbufModule;
  bool pixbufTurns;
  MetadataIn metadata;
  // How many pixels one byte of the file can expand to: an upper bound from
  // the format's best possible compression.
  double maxPixelsPerByte;
  // How fast the slower of its readers turns out pixels, measured on
  // 2000 x 1500 to 6000 x 4000 pictures of random noise, the slowest content
  // to decode.
  double nsPerPixel;
  // The library that plays its animations (1 << PictureReader), 0 where it
  // has none.
  uint32_t playedBy = 0;
};

extern const PictureKind kPictureKinds[];
extern const int kPictureKindCount;

// The kinds that code outside the table names, by their rows (the test of
// the table checks each against its row's name).
enum PictureKindId : int {
  kJpegKind = 0,
  kPngKind = 1,
  kCameraRawKind = 7,
  kHeifKind = 10,
  kAvifKind = 11,
  kJxlKind = 12,
  kMp4Kind = 14,
  kMatroskaKind = 15,
  kAviKind = 16,
  kMpegTsKind = 17,
};

// How many of a file's first bytes tell its kind.
constexpr int kHeadBytes = 32;

// The kind whose signature the file starts with, the first row that
// matches; kNotAPicture when none does.
constexpr int kNotAPicture = -1;
int PictureKindOf(const ByteSource &file);

// The kind whose files' names end as this one does (kNotAPicture for
// none), and whether there is one.
int KindNamed(const char *name);
// Whether the kind is a clip's (a video file, played by FFmpeg); and
// whether it is a picture's that may hold a clip (a Motion Photo's JPEG).
bool IsClip(int kind);
bool MayHoldAClip(int kind);
bool NamedLikeAPicture(const char *name);

// The image libraries a decoder reads pictures with, one reader each behind
// the same two calls: read a whole file from memory, and release what was
// read. A reader decodes; the hand-over (handover.h) checks the picture and
// copies it to the viewer.
#pragma once

#include <cstddef>

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
  void *owner = nullptr; // what the reader frees
};

// `kind` is the file's row in the kind table (kinds.h). False when the
// reader can't read the file; nothing to release then.
bool SoilRead(const unsigned char *file, size_t size, int kind,
              DecodedPicture &out);
void SoilRelease(DecodedPicture &picture);

bool LibjpegRead(const unsigned char *file, size_t size, int kind,
                 DecodedPicture &out);
void LibjpegRelease(DecodedPicture &picture);

// GdkPixbuf reads only the kinds LoadPixbuf (pixbuf_reader.h) readied.
bool PixbufRead(const unsigned char *file, size_t size, int kind,
                DecodedPicture &out);
void PixbufRelease(DecodedPicture &picture);

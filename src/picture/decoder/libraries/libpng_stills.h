// libpng's reader of PNG stills, for HDR PNGs (their metadata PQ or HLG):
// a 16-bit one without alpha handed over at 16 bits, kept until its light
// is mapped (SOIL reads every PNG at 8).
#pragma once

#include <png.h>

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/protocol.h"

bool LibpngRead(const unsigned char *file, size_t size, int kind,
                ShownSize shown, DecodedPicture &out);
void LibpngRelease(DecodedPicture &picture);

// libpng reading a PNG held in memory (here and for APNG's frames): its
// bytes, to hand to png_set_read_fn with PngBytesRead; a read struct made
// with PngFails and PngQuietly for its errors and warnings jumps back
// (png_jmpbuf) on an error and says nothing.
struct PngBytes {
  const unsigned char *data;
  size_t size, at;
};
void PngBytesRead(png_structp png, png_bytep to, size_t n);
void PngFails(png_structp png, png_const_charp);
void PngQuietly(png_structp, png_const_charp);

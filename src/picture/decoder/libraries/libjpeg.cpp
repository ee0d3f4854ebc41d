// libjpeg-turbo, the reader for the JPEGs SOIL does not read: progressive
// ones (most pictures saved from the web), CMYK ones (their inks left for
// the colour conversion), ones cut short, which show what arrived, and ones
// larger than a screen shows, which it decodes smaller.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>

#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Errors {
  jpeg_error_mgr manager;
  jmp_buf escape;
};

void onError(j_common_ptr jpeg) {
  longjmp(reinterpret_cast<Errors *>(jpeg->err)->escape, 1);
}

// Warnings (a file cut short, a damaged segment) go unsaid: what could be
// decoded is shown.
void onMessage(j_common_ptr, int) {}

// Reads every row of the picture into `pixels`, `stride` bytes apart.
void readRows(jpeg_decompress_struct &jpeg, unsigned char *pixels,
              size_t stride) {
  unsigned h = jpeg.output_height;
  while (jpeg.output_scanline < h) {
    JSAMPROW rows[16];
    for (unsigned i = 0; i < 16; i++)
      rows[i] = pixels + (jpeg.output_scanline + i < h
                              ? size_t(jpeg.output_scanline + i) * stride
                              : 0);
    jpeg_read_scanlines(&jpeg, rows, 16);
  }
}

// A picture larger than the screen can show is decoded at the smallest of
// 1/2, 1/4 and 1/8 at which its longer side still keeps `shown.keepSide`,
// and one that does not fit at the largest at which it does (or at 1/8):
// in a fraction of the time and memory of the whole, as each block's finest
// detail, which no screen would show, is left out. The hand-over makes it
// smaller still where it must. libjpeg-turbo's other scales (7/8, 3/4 ...)
// take longer than the whole here.
void chooseScale(jpeg_decompress_struct &jpeg, int channels, ShownSize shown) {
  auto at = [&](int eighths) {
    jpeg.scale_num = unsigned(eighths);
    jpeg.scale_denom = 8;
    jpeg_calc_output_dimensions(&jpeg);
  };
  auto longer = [&] {
    return int64_t(std::max(jpeg.output_width, jpeg.output_height));
  };
  int eighths = 8;
  for (; eighths > 1; eighths /= 2) {
    at(eighths / 2);
    if (shown.keepSide <= 0 || longer() < shown.keepSide)
      break;
  }
  for (at(eighths); eighths > 1; at(eighths /= 2))
    if (Fits(jpeg.output_width, jpeg.output_height, channels, shown.maxSide))
      break;
}

// Decodes into `pixels`, allocated here; false on an error. Nothing with a
// destructor lives in here, as an error leaves it with longjmp.
bool decode(const unsigned char *file, size_t size, ShownSize shown,
            DecodedPicture &out, unsigned char *volatile &pixels) {
  jpeg_decompress_struct jpeg;
  Errors errors;
  jpeg.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = onError;
  errors.manager.emit_message = onMessage;
  if (setjmp(errors.escape)) {
    jpeg_destroy_decompress(&jpeg);
    return false;
  }
  jpeg_create_decompress(&jpeg);
  jpeg_mem_src(&jpeg, file, static_cast<unsigned long>(size));
  jpeg_read_header(&jpeg, TRUE);
  bool cmyk =
      jpeg.jpeg_color_space == JCS_CMYK || jpeg.jpeg_color_space == JCS_YCCK;
  jpeg.out_color_space = cmyk                       ? JCS_CMYK
                         : jpeg.num_components == 1 ? JCS_GRAYSCALE
                                                    : JCS_RGB;
  chooseScale(jpeg, cmyk ? 3 : jpeg.num_components == 1 ? 1 : 3, shown);
  jpeg_start_decompress(&jpeg);
  int w = int(jpeg.output_width), h = int(jpeg.output_height);
  int ch = jpeg.output_components;
  // The hand-over checks the picture again; this check comes before the
  // memory for it is asked for.
  if (!FitsInSlot(w, h, ch == 4 ? 3 : ch)) {
    jpeg_destroy_decompress(&jpeg);
    return false;
  }
  size_t stride = size_t(w) * size_t(ch);
  pixels = static_cast<unsigned char *>(std::malloc(stride * size_t(h)));
  if (pixels == nullptr) {
    jpeg_destroy_decompress(&jpeg);
    return false;
  }
  readRows(jpeg, pixels, stride);
  if (cmyk) // JPEGs with Adobe's marker (most CMYK ones) store them inverted
    out.inks = jpeg.saw_Adobe_marker ? DecodedPicture::kCmykInverted
                                     : DecodedPicture::kCmyk;
  jpeg_finish_decompress(&jpeg);
  jpeg_destroy_decompress(&jpeg);
  out.pixels = pixels;
  out.width = w;
  out.height = h;
  out.channels = ch;
  out.stride = stride;
  return true;
}

bool LibjpegRead(const unsigned char *file, size_t size, int, ShownSize shown,
                 DecodedPicture &out) {
  unsigned char *volatile pixels = nullptr;
  if (decode(file, size, shown, out, pixels)) {
    out.owner = pixels;
    return true;
  }
  std::free(pixels);
  return false;
}

void LibjpegRelease(DecodedPicture &picture) {
  std::free(picture.owner);
  picture = {};
}

// libjpeg-turbo chooses its SIMD code the first time it compresses or
// decodes, and on arm64 it reads /proc/cpuinfo for that: done here, before
// the sandbox, with a picture of 16 x 16 made and read back (a fraction of
// a millisecond), so that no picture's first decode opens a file.
unsigned LibjpegReady(unsigned kinds) {
  jpeg_compress_struct jpeg;
  Errors errors;
  unsigned char *file = nullptr;
  unsigned long size = 0;
  jpeg.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = onError;
  errors.manager.emit_message = onMessage;
  if (setjmp(errors.escape)) {
    jpeg_destroy_compress(&jpeg);
    std::free(file);
    return kinds;
  }
  jpeg_create_compress(&jpeg);
  jpeg_mem_dest(&jpeg, &file, &size);
  jpeg.image_width = jpeg.image_height = 16;
  jpeg.input_components = 3;
  jpeg.in_color_space = JCS_RGB;
  jpeg_set_defaults(&jpeg);
  jpeg_start_compress(&jpeg, TRUE);
  unsigned char row[16 * 3] = {};
  JSAMPROW rows[1] = {row};
  while (jpeg.next_scanline < jpeg.image_height)
    jpeg_write_scanlines(&jpeg, rows, 1);
  jpeg_finish_compress(&jpeg);
  jpeg_destroy_compress(&jpeg);
  DecodedPicture picture;
  if (LibjpegRead(file, size, 0, ShownSize{}, picture))
    LibjpegRelease(picture);
  std::free(file);
  return kinds;
}

} // namespace

// clang-format off
extern const Library kLibjpegLibrary = {
  "libjpeg-turbo",
  LibjpegReady, // readied
  LibjpegRead, LibjpegRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

// APNG, animated PNG: its chunks read here (apng_chunks.h), each frame
// decoded by libpng as a PNG of its own (the file's header with the frame's
// size, its palette, its data) and drawn onto the canvas as the format
// says: replacing what is there or over it, and afterwards left, cleared
// to transparent, or put back as it was. The still picture, the default
// image, is read as any PNG's; where it is no frame of the animation, the
// animation plays only its own frames, and an animation of one such frame
// shows that frame as its still. A file that breaks the format's rules
// (apng_chunks.h) shows its default image and does not move. Its reader of
// stills reads HDR PNGs deeper than SOIL (libpng_stills.h).
#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <png.h>
#include <vector>
#include <zlib.h>

#include "picture/bytes.h"
#include "picture/decoder/libraries/apng_chunks.h"
#include "picture/decoder/libraries/libpng_stills.h"
#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Apng {
  const unsigned char *file;
  size_t size;
  ApngHead head;
  size_t at;
  uint32_t sequence = 0;
  std::vector<unsigned char> canvas, before, png, pixels;
  // The last frame shown, and what becomes of its area.
  ApngFrame shown;
  bool any = false;
};

void appendChunk(std::vector<unsigned char> &png, const char *type,
                 const unsigned char *data, size_t length) {
  unsigned char number[4] = {uint8_t(length >> 24), uint8_t(length >> 16),
                             uint8_t(length >> 8), uint8_t(length)};
  png.insert(png.end(), number, number + 4);
  size_t start = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data, data + length);
  uLong crc = crc32(0, png.data() + start, uInt(png.size() - start));
  for (int shift = 24; shift >= 0; shift -= 8)
    png.push_back(uint8_t(crc >> shift));
}

// The frame as a PNG of its own.
void frameAsPng(Apng &a, const ApngFrame &f) {
  a.png.assign(a.file, a.file + 8);
  unsigned char ihdr[13];
  std::memcpy(ihdr, a.head.ihdr, 13);
  for (int i = 0; i < 4; i++) {
    ihdr[i] = uint8_t(f.width >> (24 - 8 * i));
    ihdr[4 + i] = uint8_t(f.height >> (24 - 8 * i));
  }
  appendChunk(a.png, "IHDR", ihdr, 13);
  for (auto &chunk : a.head.shared)
    a.png.insert(a.png.end(), a.file + chunk.first,
                 a.file + chunk.first + chunk.second);
  for (auto &piece : f.data)
    appendChunk(a.png, "IDAT", a.file + piece.first, piece.second);
  appendChunk(a.png, "IEND", nullptr, 0);
}

// Decodes a.png into a.pixels as 8-bit RGBA rows; false where libpng
// can't. Nothing here has a destructor to skip when libpng jumps back.
bool decodePng(Apng &a, const ApngFrame &f) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           PngFails, PngQuietly);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  PngBytes source = {a.png.data(), a.png.size(), 0};
  png_bytep *rows =
      static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * f.height));
  bool decoded = false;
  if (rows != nullptr && setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &source, PngBytesRead);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) == size_t(f.width) * 4) {
      for (uint32_t y = 0; y < f.height; y++)
        rows[y] = a.pixels.data() + size_t(y) * f.width * 4;
      png_read_image(png, rows);
      decoded = true;
    }
  }
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return decoded;
}

// A pixel over another, neither premultiplied.
void over(const unsigned char *s, unsigned char *d) {
  unsigned sa = s[3], da = d[3];
  if (sa == 255 || da == 0) {
    std::memcpy(d, s, 4);
    return;
  }
  unsigned out = sa * 255 + da * (255 - sa); // alpha, times 255
  for (int c = 0; c < 3 && out > 0; c++)
    d[c] = uint8_t((s[c] * sa * 255 + d[c] * da * (255 - sa) + out / 2) / out);
  d[3] = uint8_t((out + 127) / 255);
}

void draw(Apng &a, const ApngFrame &f) {
  for (uint32_t y = 0; y < f.height; y++) {
    const unsigned char *from = a.pixels.data() + size_t(y) * f.width * 4;
    unsigned char *to =
        a.canvas.data() + ((size_t(f.y) + y) * a.head.width + f.x) * 4;
    if (f.blend == 0)
      std::memcpy(to, from, size_t(f.width) * 4);
    else
      for (uint32_t x = 0; x < f.width; x++)
        over(from + x * 4, to + x * 4);
  }
}

// Leaves the area of the frame last shown as it says.
void dispose(Apng &a) {
  const ApngFrame &f = a.shown;
  for (uint32_t y = 0; a.any && f.dispose != 0 && y < f.height; y++) {
    size_t at = ((size_t(f.y) + y) * a.head.width + f.x) * 4,
           n = size_t(f.width) * 4;
    if (f.dispose == 1)
      std::memset(&a.canvas[at], 0, n);
    else
      std::memcpy(&a.canvas[at], &a.before[at], n);
  }
}

bool ApngMoving(const unsigned char *file, size_t size) {
  ApngHead head;
  return ReadApngHead(file, size, head) && head.frames >= 2 &&
         ApngKeepsTheRules(file, size, head);
}

bool ApngStillIsFirstFrame(const unsigned char *file, size_t size, bool) {
  ApngHead head;
  return ReadApngHead(file, size, head) && head.frames == 1 &&
         !head.defaultIsFrame && ApngKeepsTheRules(file, size, head);
}

void *ApngOpen(const unsigned char *file, size_t size, int &plays) {
  auto *a = new Apng;
  a->file = file;
  a->size = size;
  if (!ReadApngHead(file, size, a->head) ||
      !FitsInSlot(a->head.width, a->head.height, 4)) {
    delete a;
    return nullptr;
  }
  a->at = a->head.firstChunk;
  a->canvas.assign(size_t(a->head.width) * a->head.height * 4, 0);
  plays = int(std::min(a->head.plays, uint32_t(1) << 30));
  return a;
}

bool ApngNext(void *animation, DecodedPicture &frame, int &delayMs) {
  Apng &a = *static_cast<Apng *>(animation);
  ApngFrame f;
  if (!ReadApngFrame(a.file, a.size, a.head, a.at, a.sequence, f))
    return false;
  frameAsPng(a, f);
  a.pixels.resize(size_t(f.width) * f.height * 4);
  if (!decodePng(a, f))
    return false;
  dispose(a);
  // The first frame's "put back" is "clear": there is nothing before it.
  if (f.dispose == 2 && !a.any)
    f.dispose = 1;
  if (f.dispose == 2)
    a.before = a.canvas;
  draw(a, f);
  a.shown = f;
  a.any = true;
  delayMs = int(f.delayMs);
  frame = {};
  frame.pixels = a.canvas.data();
  frame.width = int(a.head.width);
  frame.height = int(a.head.height);
  frame.channels = 4;
  frame.stride = size_t(a.head.width) * 4;
  return true;
}

void ApngClose(void *animation) {
  delete static_cast<Apng *>(animation);
}

} // namespace

// clang-format off
extern const Library kLibpngLibrary = {
  "libpng",
  nullptr, // readied
  LibpngRead, LibpngRelease, // its reader (libpng_stills.cpp)
  ApngStillIsFirstFrame, ApngMoving, ApngOpen, ApngNext, ApngClose, // its animator
};
// clang-format on

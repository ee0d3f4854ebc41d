#include "picture/kinds.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "picture/decoder/orientation.h"
#include "picture/protocol.h"

namespace {

uint32_t be16(const unsigned char *p) {
  return uint32_t(p[0]) << 8 | p[1];
}
uint32_t le16(const unsigned char *p) {
  return uint32_t(p[1]) << 8 | p[0];
}
uint32_t be32(const unsigned char *p) {
  return be16(p) << 16 | be16(p + 2);
}
uint32_t le32(const unsigned char *p) {
  return le16(p + 2) << 16 | le16(p);
}
bool startsWith(const unsigned char *head, const char *signature) {
  return !std::memcmp(head, signature, std::strlen(signature));
}

// Signatures.

bool isJpeg(const unsigned char *h) {
  return h[0] == 0xff && h[1] == 0xd8;
}
bool isPng(const unsigned char *h) {
  return startsWith(h, "\x89PNG");
}
bool isGif(const unsigned char *h) {
  return startsWith(h, "GIF8");
}
bool isBmp(const unsigned char *h) {
  return startsWith(h, "BM");
}
bool isPsd(const unsigned char *h) {
  return startsWith(h, "8BPS");
}
bool isDds(const unsigned char *h) {
  return startsWith(h, "DDS ");
}
bool isHdr(const unsigned char *h) {
  return startsWith(h, "#?");
}
bool isTiff(const unsigned char *h) {
  return !std::memcmp(h, "II*\0", 4) || !std::memcmp(h, "MM\0*", 4);
}
bool isWebp(const unsigned char *h) {
  return startsWith(h, "RIFF") && startsWith(h + 8, "WEBP");
}
bool isAvif(const unsigned char *h) {
  return startsWith(h + 4, "ftypavi");
}
bool isHeif(const unsigned char *h) {
  return startsWith(h + 4, "ftyp") && !isAvif(h);
}
bool isAnything(const unsigned char *) {
  return true;
}

// Sizes declared by headers.

uint64_t pngPixels(int, const unsigned char *h) {
  return uint64_t(be32(h + 16)) * be32(h + 20);
}

// A JPEG's size is in its frame header, which may follow large metadata
// segments: walk the segments from the start, reading a few bytes of each.
uint64_t jpegPixels(int fd, const unsigned char *) {
  unsigned char m[9];
  off_t pos = 2;
  for (int segments = 0; segments < 1000; segments++) {
    if (pread(fd, m, sizeof m, pos) != ssize_t(sizeof m) || m[0] != 0xff)
      return 0;
    unsigned marker = m[1];
    if (marker == 0xff) { // fill byte
      pos++;
      continue;
    }
    bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 &&
                 marker != 0xc8 && marker != 0xcc;
    if (frame)
      return uint64_t(be16(m + 5)) * be16(m + 7);
    if (marker == 0xd9 || marker == 0xda) // end, or scan data before a frame
      return 0;
    pos += 2 + off_t(be16(m + 2));
  }
  return 0;
}

uint64_t gifPixels(int, const unsigned char *h) {
  return uint64_t(le16(h + 6)) * le16(h + 8);
}

uint64_t bmpPixels(int, const unsigned char *h) {
  if (le32(h + 14) == 12) // the old OS/2 header: 16-bit sizes
    return uint64_t(le16(h + 18)) * le16(h + 20);
  int32_t height = int32_t(le32(h + 22));
  return uint64_t(le32(h + 18)) *
         uint64_t(height < 0 ? -int64_t(height) : int64_t(height));
}

uint64_t psdPixels(int, const unsigned char *h) {
  return uint64_t(be32(h + 14)) * be32(h + 18);
}

uint64_t ddsPixels(int, const unsigned char *h) {
  return uint64_t(le32(h + 12)) * le32(h + 16);
}

uint64_t webpPixels(int, const unsigned char *h) {
  if (startsWith(h + 12, "VP8X"))
    return uint64_t((le32(h + 24) & 0xffffff) + 1) *
           ((le32(h + 27) & 0xffffff) + 1);
  if (startsWith(h + 12, "VP8L")) {
    uint32_t bits = le32(h + 21);
    return uint64_t((bits & 0x3fff) + 1) * (((bits >> 14) & 0x3fff) + 1);
  }
  if (startsWith(h + 12, "VP8 "))
    return uint64_t(le16(h + 26) & 0x3fff) * (le16(h + 28) & 0x3fff);
  return 0;
}

// HEIF and AVIF give each picture's size in an "ispe" box near the start.
uint64_t ispePixels(int fd, const unsigned char *) {
  unsigned char b[4096];
  ssize_t n = pread(fd, b, sizeof b, 0);
  uint64_t most = 0;
  for (ssize_t i = 0; i + 16 <= n; i++)
    if (!std::memcmp(b + i, "ispe", 4))
      most = std::max(most, uint64_t(be32(b + i + 8)) * be32(b + i + 12));
  return most;
}

constexpr uint32_t kSoilOnly = kReadWithSoil;
constexpr uint32_t kPixbufOnly = kReadWithPixbuf;
constexpr uint32_t kSoilThenLibjpeg = kReadWithSoil | kReadWithLibjpeg;
constexpr uint32_t kSoilThenPixbuf = kReadWithSoil | kReadWithPixbuf;

} // namespace

// Pixels per byte: JPEG a 1-bit code a block, and runs in progressive ones;
// PNG and TIFF deflate's 1032:1 at 1 bit a pixel; GIF LZW's longest strings;
// BMP RLE8, 255 pixels in 2 bytes; PSD PackBits, 128 bytes in 2, per
// channel; DDS DXT1, 16 pixels in 8 bytes; HDR and TGA run-length per
// channel; WebP lossless, HEVC and AV1 can hold huge plain areas.
// Nanoseconds per pixel: JPEG 43 with SOIL (libjpeg-turbo takes 12 for a
// progressive or CMYK one; 50, what GdkPixbuf took for those, is kept);
// GIF 354; HEIF 172 over all its threads.
// Which way up: JPEG, PNG and WebP by their EXIF Orientation, as browsers
// show them; TIFF by its own tag, which GdkPixbuf's loader applies (libtiff
// doing part of it); HEIF and AVIF by their own transforms, which libheif
// and libavif apply (an EXIF Orientation in them is to be ignored).
// clang-format off
const PictureKind kPictureKinds[] = {
  // name   signature  declared size  readers           SOIL GdkPixbuf   turns  orientation      px/byte ns/px
  {"JPEG", isJpeg,     jpegPixels,    kSoilThenLibjpeg, 0,   nullptr,     false, JpegOrientation, 4096,    50},
  {"PNG",  isPng,      pngPixels,     kSoilThenPixbuf,  0,   "png",       false, PngOrientation,  8300,    30},
  {"GIF",  isGif,      gifPixels,     kPixbufOnly,      0,   "gif",       false, nullptr,         4096,   360},
  {"BMP",  isBmp,      bmpPixels,     kSoilThenPixbuf,  0,   "bmp",       false, nullptr,          128,    15},
  // SOIL's PSD reader always returns four channels but may report fewer,
  // which would scramble the picture: it is asked for the four it returns.
  {"PSD",  isPsd,      psdPixels,     kSoilOnly,        4,   nullptr,     false, nullptr,           64,    15},
  {"DDS",  isDds,      ddsPixels,     kSoilOnly,        0,   nullptr,     false, nullptr,            2,    15},
  {"HDR",  isHdr,      nullptr,       kSoilOnly,        0,   nullptr,     false, nullptr,           64,   100},
  {"TIFF", isTiff,     nullptr,       kPixbufOnly,      0,   "tiff",      true,  nullptr,         8300,    30},
  {"WebP", isWebp,     webpPixels,    kPixbufOnly,      0,   "webp",      false, WebpOrientation,  1e6,    80},
  {"HEIF", isHeif,     ispePixels,    kPixbufOnly,      0,   "heif/avif", false, nullptr,          1e6,   180},
  {"AVIF", isAvif,     ispePixels,    kPixbufOnly,      0,   "avif",      false, nullptr,          1e6,   110},
  // TGA has no signature; anything else goes to SOIL as well, which tells
  // by content.
  {"TGA or other", isAnything, nullptr, kSoilOnly,      0,   nullptr,     false, nullptr,           64,   100},
};
// clang-format on

const int kPictureKindCount = int(sizeof kPictureKinds / sizeof *kPictureKinds);
static_assert(sizeof kPictureKinds / sizeof *kPictureKinds <= 32,
              "kinds are named in 32-bit masks");

int PictureKindOf(const unsigned char *head) {
  int kind = 0;
  while (kind < kPictureKindCount - 1 && !kPictureKinds[kind].matches(head))
    kind++;
  return kind;
}

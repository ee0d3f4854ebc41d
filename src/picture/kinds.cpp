#include "picture/kinds.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "picture/kind_headers.h"
#include "picture/protocol.h"

namespace {

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
// HEIF's brands (an MP4 video has others, and is no picture).
bool isHeif(const unsigned char *h) {
  const char *brands[] = {"heic", "heix", "heim", "heis", "hevc",
                          "hevx", "mif1", "msf1", "mif2"};
  bool heif = false;
  for (const char *brand : brands)
    heif = heif || startsWith(h + 8, brand);
  return startsWith(h + 4, "ftyp") && heif;
}
// JPEG XL: a bare codestream, or its container (a box named "JXL ").
bool isJxl(const unsigned char *h) {
  return (h[0] == 0xff && h[1] == 0x0a) ||
         !std::memcmp(h, "\0\0\0\x0cJXL \r\n\x87\n", 12);
}
// TGA has no signature, but a header that only takes some values: a colour
// map or none, an image type (colour-mapped, true colour or grey, plain or
// run-length), a size, and a depth.
bool isTga(const unsigned char *h) {
  int type = h[2], depth = h[16];
  return h[1] <= 1 &&
         (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 ||
          type == 11) &&
         Le16(h + 12) > 0 && Le16(h + 14) > 0 &&
         (depth == 8 || depth == 15 || depth == 16 || depth == 24 ||
          depth == 32);
}

constexpr uint32_t kSoilOnly = kReadWithSoil;
constexpr uint32_t kPixbufOnly = kReadWithPixbuf;
constexpr uint32_t kSoilThenLibjpeg = kReadWithSoil | kReadWithLibjpeg;
constexpr uint32_t kSoilThenPixbuf = kReadWithSoil | kReadWithPixbuf;
constexpr uint32_t kJxlOnly = kReadWithJxl;

using M = MetadataIn;

} // namespace

// Pixels per byte: JPEG a 1-bit code a block, and runs in progressive ones;
// PNG and TIFF deflate's 1032:1 at 1 bit a pixel; GIF LZW's longest strings;
// BMP RLE8, 255 pixels in 2 bytes; PSD PackBits, 128 bytes in 2, per
// channel; DDS DXT1, 16 pixels in 8 bytes; HDR and TGA run-length per
// channel; WebP lossless, HEVC and AV1 can hold huge plain areas.
// Nanoseconds per pixel: JPEG 43 with SOIL (libjpeg-turbo takes 12 for a
// progressive or CMYK one; 50, what GdkPixbuf took for those, is kept);
// GIF 354; HEIF 172 and JPEG XL about 80, over all their threads.
// Metadata: JPEG, PNG and WebP are turned by their EXIF Orientation, as
// browsers show them; TIFF by its own tag, which GdkPixbuf's loader applies
// (libtiff doing part of it); HEIF and AVIF by their own transforms, which
// libheif and libavif apply (an EXIF Orientation in them is to be ignored).
// JPEG XL is turned by libjxl, which also describes its colours. Their
// colours: from their metadata, but for TIFF's ICC profile, which GdkPixbuf
// hands over.
// clang-format off
const PictureKind kPictureKinds[] = {
  // name   endings               signature  declared size readers        SOIL's channels, unused alpha  GdkPixbuf  turns  metadata         px/byte ns/px
  {"JPEG", ".jpg .jpeg .jpe ",    isJpeg,    JpegSize,   kSoilThenLibjpeg, JpegChannels, false,  nullptr,     false, M::JpegSegments, 4096,  50},
  {"PNG",  ".png ",               isPng,     PngSize,    kSoilThenPixbuf,  PngChannels,  false,  "png",       false, M::PngChunks,    8300,  30},
  {"GIF",  ".gif ",               isGif,     GifSize,    kPixbufOnly,      nullptr,      false,  "gif",       false, M::Nowhere,      4096, 360},
  {"BMP",  ".bmp ",               isBmp,     BmpSize,    kSoilThenPixbuf,  BmpChannels,  true,   "bmp",       false, M::Nowhere,       128,  15},
  // SOIL's PSD reader always returns four channels but reports the file's:
  // asking for a count keeps the two the same.
  {"PSD",  ".psd ",               isPsd,     PsdSize,    kSoilOnly,        PsdChannels,  false,  nullptr,     false, M::Nowhere,        64,  15},
  {"DDS",  ".dds ",               isDds,     DdsSize,    kSoilOnly,        DdsChannels,  false,  nullptr,     false, M::Nowhere,         2,  15},
  {"HDR",  ".hdr ",               isHdr,     nullptr,    kSoilOnly,        HdrChannels,  false,  nullptr,     false, M::Nowhere,        64, 100},
  {"TIFF", ".tif .tiff ",         isTiff,    nullptr,    kPixbufOnly,      nullptr,      false,  "tiff",      true,  M::Nowhere,      8300,  30},
  {"WebP", ".webp ",              isWebp,    WebpSize,   kPixbufOnly,      nullptr,      false,  "webp",      false, M::RiffChunks,    1e6,  80},
  {"HEIF", ".heic .heif ",        isHeif,    IspeSize,   kPixbufOnly,      nullptr,      false,  "heif/avif", false, M::IsoBoxes,      1e6, 180},
  {"AVIF", ".avif ",              isAvif,    IspeSize,   kPixbufOnly,      nullptr,      false,  "avif",      false, M::IsoBoxes,      1e6, 110},
  {"JPEG XL", ".jxl ",            isJxl,     JxlSize,    kJxlOnly,         nullptr,      false,  nullptr,     false, M::Nowhere,       1e6, 100},
  {"TGA",  ".tga ",               isTga,     nullptr,    kSoilOnly,        TgaChannels,  true,   nullptr,     false, M::Nowhere,        64, 100},
};
// clang-format on

const int kPictureKindCount = int(sizeof kPictureKinds / sizeof *kPictureKinds);
static_assert(sizeof kPictureKinds / sizeof *kPictureKinds <= 32,
              "kinds are named in 32-bit masks");

int PictureKindOf(const ByteSource &file) {
  unsigned char head[kHeadBytes];
  ReadHeader(file, 0, head, sizeof head);
  for (int kind = 0; kind < kPictureKindCount; kind++)
    if (kPictureKinds[kind].matches(head))
      return kind;
  return kNotAPicture;
}

bool NamedLikeAPicture(const char *name) {
  size_t n = std::strlen(name);
  for (const PictureKind &kind : kPictureKinds) {
    for (const char *e = kind.endings; *e != '\0';) {
      size_t length = size_t(std::strchr(e, ' ') - e);
      if (n > length && !strncasecmp(name + n - length, e, length))
        return true;
      e += length + 1;
    }
  }
  return false;
}

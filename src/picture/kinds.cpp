#include "picture/kinds.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

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

// Reads a header's `n` bytes from `at`; what lies past the file's end reads
// as zero.
void readHeader(const ByteSource &file, uint64_t at, unsigned char *out,
                size_t n) {
  std::memset(out, 0, n);
  if (at < file.size)
    file.read(at, out, size_t(std::min<uint64_t>(n, file.size - at)));
}

// Sizes declared by headers: two numbers at `at`, each `bytes` long, in
// either byte order, width first unless `heightFirst`.
PictureSize pair(const ByteSource &file, uint64_t at, int bytes, bool le,
                 bool heightFirst = false) {
  unsigned char b[8];
  readHeader(file, at, b, size_t(2 * bytes));
  uint64_t first = bytes == 2 ? Get16(b, le) : Get32(b, le);
  uint64_t second = bytes == 2 ? Get16(b + 2, le) : Get32(b + 4, le);
  return heightFirst ? PictureSize{second, first} : PictureSize{first, second};
}

PictureSize pngSize(const ByteSource &file) {
  return pair(file, 16, 4, false);
}

// A JPEG's size is in its frame header, which may follow large metadata
// segments.
PictureSize jpegSize(const ByteSource &file) {
  PictureSize size;
  ForEachJpegSegment(file, [&](const Piece &segment) {
    uint32_t m = segment.type;
    bool frame = m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc;
    unsigned char h[5]; // precision, then height and width
    if (frame && file.read(segment.at, h, sizeof h))
      size = {Be16(h + 3), Be16(h + 1)};
    return !frame;
  });
  return size;
}

PictureSize gifSize(const ByteSource &file) {
  return pair(file, 6, 2, true);
}

PictureSize bmpSize(const ByteSource &file) {
  unsigned char h[12];
  readHeader(file, 14, h, sizeof h);
  if (Le32(h) == 12) // the old OS/2 header: 16-bit sizes
    return {Le16(h + 4), Le16(h + 6)};
  int32_t height = int32_t(Le32(h + 8));
  return {Le32(h + 4),
          uint64_t(height < 0 ? -int64_t(height) : int64_t(height))};
}

PictureSize psdSize(const ByteSource &file) {
  return pair(file, 14, 4, false, true);
}

PictureSize ddsSize(const ByteSource &file) {
  return pair(file, 12, 4, true, true);
}

PictureSize webpSize(const ByteSource &file) {
  unsigned char h[20]; // from offset 12: the first chunk's header and more
  readHeader(file, 12, h, sizeof h);
  if (startsWith(h, "VP8X"))
    return {(Le32(h + 12) & 0xffffff) + 1u, (Le32(h + 15) & 0xffffff) + 1u};
  if (startsWith(h, "VP8L")) {
    uint32_t bits = Le32(h + 9);
    return {(bits & 0x3fff) + 1u, ((bits >> 14) & 0x3fff) + 1u};
  }
  if (startsWith(h, "VP8 "))
    return {Le16(h + 14) & 0x3fff, Le16(h + 16) & 0x3fff};
  return {};
}

// HEIF and AVIF give each picture's size in an "ispe" box near the start:
// the largest counts.
PictureSize ispeSize(const ByteSource &file) {
  unsigned char b[4096];
  size_t n = size_t(std::min<uint64_t>(file.size, sizeof b));
  if (!file.read(0, b, n))
    return {};
  PictureSize largest;
  for (size_t i = 0; i + 16 <= n; i++) {
    PictureSize s = {Be32(b + i + 8), Be32(b + i + 12)};
    if (!std::memcmp(b + i, "ispe", 4) && s.pixels() > largest.pixels())
      largest = s;
  }
  return largest;
}

// JPEG XL gives its size in bits right after its codestream's signature
// (its SizeHeader), least significant bit first: in eighths where small,
// and the width as a ratio of the height where it is a common one.
PictureSize jxlCodestreamSize(const ByteSource &file, uint64_t at) {
  unsigned char b[16];
  readHeader(file, at, b, sizeof b);
  if (b[0] != 0xff || b[1] != 0x0a)
    return {};
  int bit = 16;
  auto bits = [&](int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; i++, bit++)
      v |= uint64_t(b[bit / 8] >> (bit % 8) & 1) << i;
    return v;
  };
  bool small = bits(1);
  auto side = [&] {
    if (small)
      return (bits(5) + 1) * 8;
    const int widths[4] = {9, 13, 18, 30};
    return bits(widths[bits(2)]) + 1;
  };
  uint64_t height = side();
  // Width over height for ratios 1 to 7.
  const uint64_t over[8][2] = {{0, 1}, {1, 1},  {12, 10}, {4, 3},
                               {3, 2}, {16, 9}, {5, 4},   {2, 1}};
  uint64_t ratio = bits(3);
  uint64_t width = ratio ? height * over[ratio][0] / over[ratio][1] : side();
  return {width, height};
}

PictureSize jxlSize(const ByteSource &file) {
  PictureSize size = jxlCodestreamSize(file, 0);
  // In the container, the codestream is in a "jxlc" box, or begins in the
  // first "jxlp" box, after that box's index.
  ForEachIsoBox(file, 0, file.size, [&](const Piece &box) {
    if (box.type == FourCC("jxlc") || box.type == FourCC("jxlp"))
      size = jxlCodestreamSize(file,
                               box.at + (box.type == FourCC("jxlp") ? 4 : 0));
    return box.type != FourCC("jxlc") && box.type != FourCC("jxlp");
  });
  return size;
}

// Channels, as SOIL's readers count them.

// A PNG's from its colour type, one more where a transparent colour or
// palette alphas (tRNS) come before the picture data; SOIL refuses a tRNS
// anywhere else, or on a type with alpha, or of the wrong length.
int pngChannels(const ByteSource &file) {
  unsigned char h[18]; // IHDR's length, type and content
  readHeader(file, 8, h, sizeof h);
  if (std::memcmp(h + 4, "IHDR", 4) != 0)
    return 0;
  const int byType[7] = {1, 0, 3, 3, 2, 0, 4};
  int type = h[17], channels = type <= 6 ? byType[type] : 0;
  bool transparent = false;
  ForEachPngChunk(file, [&](const Piece &chunk) {
    transparent = transparent || chunk.type == FourCC("tRNS");
    return true;
  });
  bool alphaOfItsOwn = type == 4 || type == 6;
  return transparent && !alphaOfItsOwn ? (type == 3 ? 4 : channels + 1)
                                       : channels;
}

// A JPEG's from its frame header: grey or colour (SOIL reads no CMYK).
int jpegChannels(const ByteSource &file) {
  int channels = 0;
  ForEachJpegSegment(file, [&](const Piece &segment) {
    uint32_t m = segment.type;
    bool frame = m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc;
    unsigned char h[6]; // precision, height, width, components
    if (frame && file.read(segment.at, h, sizeof h))
      channels = h[5] == 1 ? 1 : 3;
    return !frame;
  });
  return channels;
}

// A BMP's: RGBA only where 32-bit pixels come with a mask for alpha (the
// headers from version 3 with masks on); SOIL reads other 32-bit ones as RGB.
int bmpChannels(const ByteSource &file) {
  unsigned char h[56];
  readHeader(file, 14, h, sizeof h);
  uint32_t header = Le32(h), bits = Le16(h + (header == 12 ? 10 : 14));
  bool alphaMask = header >= 56 && Le32(h + 16) == 3 && Le32(h + 52) != 0;
  return bits == 32 && alphaMask ? 4 : 3;
}

// A PSD's: RGB, or RGB with alpha where it has a fourth channel.
int psdChannels(const ByteSource &file) {
  unsigned char h[2];
  readHeader(file, 12, h, sizeof h);
  return Be16(h) == 0 ? 0 : Be16(h) >= 4 ? 4 : 3;
}

// A DDS's from its pixel format: DXT1 (no alpha here) and plain pixels
// without alpha are RGB, the other compressed kinds RGBA.
int ddsChannels(const ByteSource &file) {
  unsigned char f[12]; // the pixel format's flags and four-letter code
  readHeader(file, 80, f, sizeof f);
  bool compressed = Le32(f) & 4, alpha = Le32(f) & 1;
  if (compressed)
    return startsWith(f + 4, "DXT1") ? 3 : 4;
  return alpha ? 4 : 3;
}

int hdrChannels(const ByteSource &) {
  return 3;
}

// A TGA's from its depth, or its palette's: grey, grey and alpha, RGB,
// RGBA (SOIL counts 16-bit colour as two channels, and reads it so).
int tgaChannels(const ByteSource &file) {
  unsigned char h[18];
  readHeader(file, 0, h, sizeof h);
  int type = h[2] & 7, depth = type == 1 ? h[7] : h[16];
  if (type == 3)
    return depth == 16 ? 2 : 1;
  return depth == 32 ? 4 : depth == 24 ? 3 : 2;
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
  {"JPEG", ".jpg .jpeg .jpe ",    isJpeg,    jpegSize,   kSoilThenLibjpeg, jpegChannels, false,  nullptr,     false, M::JpegSegments, 4096,  50},
  {"PNG",  ".png ",               isPng,     pngSize,    kSoilThenPixbuf,  pngChannels,  false,  "png",       false, M::PngChunks,    8300,  30},
  {"GIF",  ".gif ",               isGif,     gifSize,    kPixbufOnly,      nullptr,      false,  "gif",       false, M::Nowhere,      4096, 360},
  {"BMP",  ".bmp ",               isBmp,     bmpSize,    kSoilThenPixbuf,  bmpChannels,  true,   "bmp",       false, M::Nowhere,       128,  15},
  // SOIL's PSD reader always returns four channels but reports the file's:
  // asking for a count keeps the two the same.
  {"PSD",  ".psd ",               isPsd,     psdSize,    kSoilOnly,        psdChannels,  false,  nullptr,     false, M::Nowhere,        64,  15},
  {"DDS",  ".dds ",               isDds,     ddsSize,    kSoilOnly,        ddsChannels,  false,  nullptr,     false, M::Nowhere,         2,  15},
  {"HDR",  ".hdr ",               isHdr,     nullptr,    kSoilOnly,        hdrChannels,  false,  nullptr,     false, M::Nowhere,        64, 100},
  {"TIFF", ".tif .tiff ",         isTiff,    nullptr,    kPixbufOnly,      nullptr,      false,  "tiff",      true,  M::Nowhere,      8300,  30},
  {"WebP", ".webp ",              isWebp,    webpSize,   kPixbufOnly,      nullptr,      false,  "webp",      false, M::RiffChunks,    1e6,  80},
  {"HEIF", ".heic .heif ",        isHeif,    ispeSize,   kPixbufOnly,      nullptr,      false,  "heif/avif", false, M::IsoBoxes,      1e6, 180},
  {"AVIF", ".avif ",              isAvif,    ispeSize,   kPixbufOnly,      nullptr,      false,  "avif",      false, M::IsoBoxes,      1e6, 110},
  {"JPEG XL", ".jxl ",            isJxl,     jxlSize,    kJxlOnly,         nullptr,      false,  nullptr,     false, M::Nowhere,       1e6, 100},
  {"TGA",  ".tga ",               isTga,     nullptr,    kSoilOnly,        tgaChannels,  true,   nullptr,     false, M::Nowhere,        64, 100},
};
// clang-format on

const int kPictureKindCount = int(sizeof kPictureKinds / sizeof *kPictureKinds);
static_assert(sizeof kPictureKinds / sizeof *kPictureKinds <= 32,
              "kinds are named in 32-bit masks");

int PictureKindOf(const ByteSource &file) {
  unsigned char head[kHeadBytes];
  readHeader(file, 0, head, sizeof head);
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

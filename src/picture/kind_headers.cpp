// What picture files' headers say of their pictures, for the table of
// kinds (kinds.cpp): each kind's declared size, and its channels as SOIL's
// readers count them.
#include "picture/kind_headers.h"

#include <algorithm>
#include <cstring>

void ReadHeader(const ByteSource &file, uint64_t at, unsigned char *out,
                size_t n) {
  std::memset(out, 0, n);
  if (at < file.size)
    file.read(at, out, size_t(std::min<uint64_t>(n, file.size - at)));
}

namespace {

// Sizes declared by headers: two numbers at `at`, each `bytes` long, in
// either byte order, width first unless `heightFirst`.
PictureSize pair(const ByteSource &file, uint64_t at, int bytes, bool le,
                 bool heightFirst = false) {
  unsigned char b[8];
  ReadHeader(file, at, b, size_t(2 * bytes));
  uint64_t first = bytes == 2 ? Get16(b, le) : Get32(b, le);
  uint64_t second = bytes == 2 ? Get16(b + 2, le) : Get32(b + 4, le);
  return heightFirst ? PictureSize{second, first} : PictureSize{first, second};
}

} // namespace

PictureSize PngSize(const ByteSource &file) {
  return pair(file, 16, 4, false);
}

// A JPEG's size is in its frame header, which may follow large metadata
// segments.
PictureSize JpegSize(const ByteSource &file) {
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

PictureSize GifSize(const ByteSource &file) {
  return pair(file, 6, 2, true);
}

PictureSize BmpSize(const ByteSource &file) {
  unsigned char h[12];
  ReadHeader(file, 14, h, sizeof h);
  if (Le32(h) == 12) // the old OS/2 header: 16-bit sizes
    return {Le16(h + 4), Le16(h + 6)};
  int32_t height = int32_t(Le32(h + 8));
  return {Le32(h + 4),
          uint64_t(height < 0 ? -int64_t(height) : int64_t(height))};
}

PictureSize PsdSize(const ByteSource &file) {
  return pair(file, 14, 4, false, true);
}

PictureSize DdsSize(const ByteSource &file) {
  return pair(file, 12, 4, true, true);
}

PictureSize WebpSize(const ByteSource &file) {
  unsigned char h[20]; // from offset 12: the first chunk's header and more
  ReadHeader(file, 12, h, sizeof h);
  if (std::memcmp(h, "VP8X", 4) == 0)
    return {(Le32(h + 12) & 0xffffff) + 1u, (Le32(h + 15) & 0xffffff) + 1u};
  if (std::memcmp(h, "VP8L", 4) == 0) {
    uint32_t bits = Le32(h + 9);
    return {(bits & 0x3fff) + 1u, ((bits >> 14) & 0x3fff) + 1u};
  }
  if (std::memcmp(h, "VP8 ", 4) == 0)
    return {Le16(h + 14) & 0x3fff, Le16(h + 16) & 0x3fff};
  return {};
}

// HEIF and AVIF give each picture's size in an "ispe" box near the start:
// the largest counts.
PictureSize IspeSize(const ByteSource &file) {
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

namespace {

// JPEG XL gives its size in bits right after its codestream's signature
// (its SizeHeader), least significant bit first: in eighths where small,
// and the width as a ratio of the height where it is a common one.
PictureSize jxlCodestreamSize(const ByteSource &file, uint64_t at) {
  unsigned char b[16];
  ReadHeader(file, at, b, sizeof b);
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

} // namespace

PictureSize JxlSize(const ByteSource &file) {
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
int PngChannels(const ByteSource &file) {
  unsigned char h[18]; // IHDR's length, type and content
  ReadHeader(file, 8, h, sizeof h);
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
int JpegChannels(const ByteSource &file) {
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
int BmpChannels(const ByteSource &file) {
  unsigned char h[56];
  ReadHeader(file, 14, h, sizeof h);
  uint32_t header = Le32(h), bits = Le16(h + (header == 12 ? 10 : 14));
  bool alphaMask = header >= 56 && Le32(h + 16) == 3 && Le32(h + 52) != 0;
  return bits == 32 && alphaMask ? 4 : 3;
}

// A PSD's: RGB, or RGB with alpha where it has a fourth channel.
int PsdChannels(const ByteSource &file) {
  unsigned char h[2];
  ReadHeader(file, 12, h, sizeof h);
  return Be16(h) == 0 ? 0 : Be16(h) >= 4 ? 4 : 3;
}

// A DDS's from its pixel format: DXT1 (no alpha here) and plain pixels
// without alpha are RGB, the other compressed kinds RGBA.
int DdsChannels(const ByteSource &file) {
  unsigned char f[12]; // the pixel format's flags and four-letter code
  ReadHeader(file, 80, f, sizeof f);
  bool compressed = Le32(f) & 4, alpha = Le32(f) & 1;
  if (compressed)
    return std::memcmp(f + 4, "DXT1", 4) == 0 ? 3 : 4;
  return alpha ? 4 : 3;
}

int HdrChannels(const ByteSource &) {
  return 3;
}

// A TGA's from its depth, or its palette's: grey, grey and alpha, RGB,
// RGBA (SOIL counts 16-bit colour as two channels, and reads it so).
int TgaChannels(const ByteSource &file) {
  unsigned char h[18];
  ReadHeader(file, 0, h, sizeof h);
  int type = h[2] & 7, depth = type == 1 ? h[7] : h[16];
  if (type == 3)
    return depth == 16 ? 2 : 1;
  return depth == 32 ? 4 : depth == 24 ? 3 : 2;
}

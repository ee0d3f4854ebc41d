#include "test_animations.h"

#include <cstdint>
#include <zlib.h>

namespace {

std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string be16(uint32_t v) {
  return {char(v >> 8), char(v)};
}

std::string chunk(const std::string &type, const std::string &data) {
  std::string body = type + data;
  uLong crc =
      crc32(0, reinterpret_cast<const Bytef *>(body.data()), uInt(body.size()));
  return be32(uint32_t(data.size())) + body + be32(uint32_t(crc));
}

// Rows of one colour, each after filter byte 0, deflated.
std::string flatData(int width, int height, const unsigned char rgba[4]) {
  std::string raw;
  for (int y = 0; y < height; y++) {
    raw += '\0';
    for (int x = 0; x < width; x++)
      raw.append(reinterpret_cast<const char *>(rgba), 4);
  }
  uLongf size = compressBound(uLong(raw.size()));
  std::string out(size, '\0');
  compress(reinterpret_cast<Bytef *>(&out[0]), &size,
           reinterpret_cast<const Bytef *>(raw.data()), uLong(raw.size()));
  out.resize(size);
  return out;
}

} // namespace

std::string apng_bytes(int width, int height,
                       const std::vector<ApngTestFrame> &frames,
                       const ApngTestOptions &o) {
  std::string png = "\x89PNG\r\n\x1a\n";
  png += chunk("IHDR", be32(uint32_t(width)) + be32(uint32_t(height)) +
                           std::string("\x08\x06\x00\x00\x00", 5));
  uint32_t announced =
      uint32_t(o.announced >= 0 ? size_t(o.announced) : frames.size());
  png += chunk("acTL", be32(announced) + be32(uint32_t(o.plays)));
  const unsigned char grey[4] = {128, 128, 128, 255};
  if (o.separateDefault)
    png += chunk("IDAT", flatData(width, height, grey));
  uint32_t sequence = 0;
  std::vector<std::string> written; // each frame's chunks
  for (size_t i = 0; i < frames.size(); i++) {
    const ApngTestFrame &f = frames[i];
    int w = f.width > 0 ? f.width : width, h = f.height > 0 ? f.height : height;
    if (int(i) == o.gapBefore)
      sequence++;
    if (int(i) == o.repeatSequence)
      sequence--;
    uint32_t number = int(i) == o.swapSequence ? sequence + 1 : sequence;
    std::string out =
        chunk("fcTL", be32(number) + be32(uint32_t(w)) + be32(uint32_t(h)) +
                          be32(uint32_t(f.x)) + be32(uint32_t(f.y)) +
                          be16(uint32_t(f.delayMs)) + be16(1000) +
                          char(f.dispose) + char(f.blend));
    sequence++;
    std::string data = flatData(w, h, f.rgba);
    if (int(i) == o.dropFrameData) {
    } else if (i == 0 && !o.separateDefault) {
      out += chunk("IDAT", data);
    } else {
      size_t half = o.splitData ? data.size() / 2 : data.size();
      for (std::string piece :
           {data.substr(0, half), std::string(), data.substr(half)})
        if (o.splitData || !piece.empty())
          out += chunk("fdAT", be32(sequence++) + piece);
    }
    written.push_back(out);
  }
  if (o.swapWithNext >= 0 && size_t(o.swapWithNext) + 1 < written.size())
    std::swap(written[size_t(o.swapWithNext)],
              written[size_t(o.swapWithNext) + 1]);
  for (const std::string &w : written)
    png += w;
  png += chunk("IEND", "");
  if (o.cutAt > 0 && o.cutAt < png.size())
    png.resize(o.cutAt);
  return png;
}

namespace {

std::string le16(uint32_t v) {
  return {char(v), char(v >> 8)};
}

// LZW codes of 3 bits (palette of 4, minimum code size 2) packed into
// sub-blocks: a clear code before every two pixels keeps the table, and so
// the code size, from growing.
std::string flatLzw(int colour, long pixels) {
  std::vector<int> codes;
  for (long i = 0; i < pixels; i += 2) {
    codes.push_back(4);
    codes.push_back(colour);
    if (i + 1 < pixels)
      codes.push_back(colour);
  }
  codes.push_back(5);
  std::string bytes;
  unsigned bits = 0, count = 0;
  for (int code : codes) {
    bits |= unsigned(code) << count;
    for (count += 3; count >= 8; count -= 8, bits >>= 8)
      bytes += char(bits & 0xff);
  }
  if (count > 0)
    bytes += char(bits & 0xff);
  std::string blocks = "\x02";
  for (size_t at = 0; at < bytes.size(); at += 255) {
    std::string piece = bytes.substr(at, 255);
    blocks += char(piece.size()) + piece;
  }
  return blocks + '\0';
}

} // namespace

std::string gif_bytes(int width, int height,
                      const std::vector<GifTestFrame> &frames) {
  std::string gif = "GIF89a" + le16(uint32_t(width)) + le16(uint32_t(height)) +
                    std::string("\xf1\x00\x00", 3) +
                    std::string("\xff\x00\x00\x00\xff\x00\x00\x00\xff"
                                "\xff\xff\xff",
                                12);
  gif += std::string("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  for (const GifTestFrame &f : frames) {
    gif += std::string("\x21\xf9\x04\x00", 4) + le16(uint32_t(f.delayCs)) +
           std::string("\x00\x00", 2);
    gif += "\x2c" + le16(uint32_t(f.x)) + le16(uint32_t(f.y)) +
           le16(uint32_t(f.width)) + le16(uint32_t(f.height)) + '\0';
    gif += flatLzw(f.colour, long(f.width) * f.height);
  }
  return gif + ';';
}

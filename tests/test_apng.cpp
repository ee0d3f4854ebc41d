#include "test_apng.h"

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
  png += chunk("acTL", be32(uint32_t(frames.size())) + be32(uint32_t(o.plays)));
  const unsigned char grey[4] = {128, 128, 128, 255};
  if (o.separateDefault)
    png += chunk("IDAT", flatData(width, height, grey));
  uint32_t sequence = 0;
  for (size_t i = 0; i < frames.size(); i++) {
    const ApngTestFrame &f = frames[i];
    int w = f.width > 0 ? f.width : width, h = f.height > 0 ? f.height : height;
    uint32_t number = int(i) == o.swapSequence ? sequence + 1 : sequence;
    png += chunk("fcTL", be32(number) + be32(uint32_t(w)) + be32(uint32_t(h)) +
                             be32(uint32_t(f.x)) + be32(uint32_t(f.y)) +
                             be16(uint32_t(f.delayMs)) + be16(1000) +
                             char(f.dispose) + char(f.blend));
    sequence++;
    if (int(i) == o.dropFrameData)
      continue;
    std::string data = flatData(w, h, f.rgba);
    if (i == 0 && !o.separateDefault) {
      png += chunk("IDAT", data);
    } else {
      png += chunk("fdAT", be32(sequence) + data);
      sequence++;
    }
  }
  png += chunk("IEND", "");
  if (o.cutAt > 0 && o.cutAt < png.size())
    png.resize(o.cutAt);
  return png;
}

#include "test_dng.h"

#include <cstdint>
#include <vector>

namespace {

enum Type { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kSrational = 10 };

struct Field {
  uint16_t tag, type;
  uint32_t count;
  std::string value; // little-endian bytes
};

std::string le(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; i++)
    s += char(v >> (8 * i));
  return s;
}

Field shorts(uint16_t tag, std::vector<uint16_t> v) {
  Field f{tag, kShort, uint32_t(v.size()), ""};
  for (uint16_t x : v)
    f.value += le(x, 2);
  return f;
}
Field longs(uint16_t tag, std::vector<uint32_t> v) {
  Field f{tag, kLong, uint32_t(v.size()), ""};
  for (uint32_t x : v)
    f.value += le(x, 4);
  return f;
}
Field bytes(uint16_t tag, std::vector<uint8_t> v) {
  return {tag, kByte, uint32_t(v.size()), std::string(v.begin(), v.end())};
}
Field ascii(uint16_t tag, const std::string &s) {
  return {tag, kAscii, uint32_t(s.size() + 1), s + '\0'};
}
// A 3 x 3 matrix of signed rationals over 10000.
Field matrix(uint16_t tag, std::vector<int> m) {
  Field f{tag, kSrational, 9, ""};
  for (int x : m)
    f.value += le(uint32_t(x), 4) + le(10000, 4);
  return f;
}

// Appends a directory at the end of `file` (its fields sorted by tag, the
// values that don't fit in an entry after it); returns where it starts and
// leaves where its next-directory offset lies in `next`.
uint32_t appendDirectory(std::string &file, const std::vector<Field> &fields,
                         size_t &next) {
  uint32_t at = uint32_t(file.size());
  size_t data = at + 2 + 12 * fields.size() + 4;
  std::string entries = le(fields.size(), 2), values;
  for (const Field &f : fields) {
    entries += le(f.tag, 2) + le(f.type, 2) + le(f.count, 4);
    if (f.value.size() <= 4) {
      entries += f.value + std::string(4 - f.value.size(), '\0');
    } else {
      entries += le(data + values.size(), 4);
      values += f.value + std::string(f.value.size() % 2, '\0');
    }
  }
  next = at + entries.size();
  file += entries + le(0, 4) + values;
  return at;
}

} // namespace

std::string dng_bytes(int side, RawLevels level, const std::string &previewJpeg,
                      int orientation) {
  std::string file = "II*" + std::string(1, '\0') + le(8, 4);
  // The mosaic first, after the header; its directory then points at it.
  std::string mosaic;
  for (int y = 0; y < side; y++)
    for (int x = 0; x < side; x++)
      mosaic += le(y % 2 == 0 ? (x % 2 == 0 ? level.red : level.green)
                              : (x % 2 == 0 ? level.green : level.blue),
                   2);
  uint32_t mosaicAt = uint32_t(file.size());
  file += mosaic;
  uint32_t previewAt = uint32_t(file.size());
  file += previewJpeg + std::string(previewJpeg.size() % 2, '\0');
  uint32_t s = uint32_t(side);
  std::vector<Field> raw = {
      longs(254, {0}),
      longs(256, {s}),
      longs(257, {s}),
      shorts(258, {16}),
      shorts(259, {1}),
      shorts(262, {32803}), // a colour filter array
      ascii(271, "Vorlix"),
      ascii(272, "Test camera"),
      longs(273, {mosaicAt}),
      shorts(274, {uint16_t(orientation)}),
      shorts(277, {1}),
      longs(278, {s}),
      longs(279, {uint32_t(mosaic.size())}),
      shorts(284, {1}),
      shorts(33421, {2, 2}),
      bytes(33422, {0, 1, 1, 2}), // red, green / green, blue
      bytes(50706, {1, 4, 0, 0}), // DNGVersion
      ascii(50708, "Vorlix Test camera"),
      longs(50714, {0}),     // BlackLevel
      longs(50717, {65535}), // WhiteLevel
      // Camera colours as sRGB's XYZ to linear RGB: the camera sees sRGB.
      matrix(50721,
             {32406, -15372, -4986, -9689, 18758, 415, 557, -2040, 10570}),
      shorts(50778, {21}), // D65
      {50728, 5, 3,
       le(1, 4) + le(1, 4) + le(1, 4) + le(1, 4) + le(1, 4) +
           le(1, 4)}, // AsShotNeutral: as the camera balanced
  };
  size_t next = 0;
  file.replace(4, 4, le(appendDirectory(file, raw, next), 4));
  if (!previewJpeg.empty()) {
    std::vector<Field> preview = {
        longs(254, {1}), // a reduced picture
        shorts(259, {6}),        shorts(262, {6}),
        longs(513, {previewAt}), longs(514, {uint32_t(previewJpeg.size())}),
    };
    size_t unused = 0;
    uint32_t at = appendDirectory(file, preview, unused);
    file.replace(next, 4, le(at, 4));
  }
  return file;
}

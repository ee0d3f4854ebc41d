#include "picture/decoder/orientation.h"

#include <cstdint>
#include <cstring>

namespace {

uint32_t get16(const unsigned char *p, bool littleEndian) {
  return littleEndian ? uint32_t(p[1]) << 8 | p[0] : uint32_t(p[0]) << 8 | p[1];
}
uint32_t get32(const unsigned char *p, bool littleEndian) {
  return littleEndian ? get16(p + 2, true) << 16 | get16(p, true)
                      : get16(p, false) << 16 | get16(p + 2, false);
}

// The Orientation tag (0x0112, one SHORT) of the first directory of TIFF
// structured data, as EXIF is.
int exifOrientation(const unsigned char *t, size_t size) {
  if (size < 8 || (std::memcmp(t, "II", 2) && std::memcmp(t, "MM", 2)))
    return 1;
  bool le = t[0] == 'I';
  uint32_t directory = get32(t + 4, le);
  if (get16(t + 2, le) != 42 || directory > size - 2)
    return 1;
  uint32_t entries = get16(t + directory, le);
  for (uint32_t i = 0; i < entries; i++) {
    size_t at = size_t(directory) + 2 + size_t(i) * 12;
    if (at + 12 > size)
      return 1;
    const unsigned char *e = t + at;
    if (get16(e, le) != 0x0112)
      continue;
    uint32_t value = get16(e + 8, le);
    bool oneShort = get16(e + 2, le) == 3 && get32(e + 4, le) == 1;
    return oneShort && value >= 1 && value <= 8 ? int(value) : 1;
  }
  return 1;
}

} // namespace

int JpegOrientation(const unsigned char *file, size_t size) {
  size_t at = 2;
  while (at + 4 <= size && file[at] == 0xff) {
    unsigned marker = file[at + 1];
    if (marker == 0xff) { // fill byte
      at++;
      continue;
    }
    if (marker == 0xda || marker == 0xd9) // the picture data, or its end
      return 1;
    size_t length = get16(file + at + 2, false);
    if (length < 2 || at + 2 + length > size)
      return 1;
    const unsigned char *data = file + at + 4;
    if (marker == 0xe1 && length >= 8 && !std::memcmp(data, "Exif\0\0", 6))
      return exifOrientation(data + 6, length - 8);
    at += 2 + length;
  }
  return 1;
}

int PngOrientation(const unsigned char *file, size_t size) {
  size_t at = 8;
  while (at + 12 <= size) {
    size_t length = get32(file + at, false);
    const unsigned char *type = file + at + 4;
    if (!std::memcmp(type, "IDAT", 4) || length > size - at - 12)
      return 1;
    if (!std::memcmp(type, "eXIf", 4))
      return exifOrientation(file + at + 8, length);
    at += 12 + length;
  }
  return 1;
}

int WebpOrientation(const unsigned char *file, size_t size) {
  size_t at = 12;
  while (at + 8 <= size) {
    size_t length = get32(file + at + 4, true);
    if (length > size - at - 8)
      return 1;
    const unsigned char *data = file + at + 8;
    if (!std::memcmp(file + at, "EXIF", 4)) {
      // Some writers keep JPEG's "Exif" prefix here as well.
      if (length >= 6 && !std::memcmp(data, "Exif\0\0", 6))
        return exifOrientation(data + 6, length - 6);
      return exifOrientation(data, length);
    }
    at += 8 + length + (length & 1);
  }
  return 1;
}

#include "picture/decoder/metadata.h"

#include <cstdint>
#include <cstring>

int ExifOrientation(const unsigned char *t, size_t size) {
  if (size < 8 || (std::memcmp(t, "II", 2) && std::memcmp(t, "MM", 2)))
    return 1;
  bool le = t[0] == 'I';
  uint32_t directory = Get32(t + 4, le);
  if (Get16(t + 2, le) != 42 || directory > size - 2)
    return 1;
  uint32_t entries = Get16(t + directory, le);
  for (uint32_t i = 0; i < entries; i++) {
    size_t at = size_t(directory) + 2 + size_t(i) * 12;
    if (at + 12 > size)
      return 1;
    const unsigned char *e = t + at;
    if (Get16(e, le) != 0x0112)
      continue;
    uint32_t value = Get16(e + 8, le);
    bool oneShort = Get16(e + 2, le) == 3 && Get32(e + 4, le) == 1;
    return oneShort && value >= 1 && value <= 8 ? int(value) : 1;
  }
  return 1;
}

namespace {

const unsigned char kExifPrefix[6] = {'E', 'x', 'i', 'f', 0, 0};

// The orientation in a piece of EXIF data, behind JPEG's "Exif" prefix
// where `prefixed` (some WebP writers keep it as well).
int orientationIn(const ByteSource &file, const Piece &exif, bool prefixed) {
  const unsigned char *data = file.at(exif.at, exif.length);
  if (data == nullptr)
    return 1;
  if (prefixed && exif.length >= 6 && !std::memcmp(data, kExifPrefix, 6))
    return ExifOrientation(data + 6, size_t(exif.length - 6));
  return ExifOrientation(data, size_t(exif.length));
}

} // namespace

int OrientationOf(MetadataIn where, const ByteSource &file) {
  int orientation = 1;
  auto found = [&](const Piece &exif, bool prefixed) {
    orientation = orientationIn(file, exif, prefixed);
    return false; // the first one counts
  };
  switch (where) {
  case MetadataIn::JpegSegments:
    ForEachJpegSegment(file, [&](const Piece &s) {
      const unsigned char *data = file.at(s.at, 6);
      if (s.type != 0xe1 || s.length < 6 || data == nullptr ||
          std::memcmp(data, kExifPrefix, 6))
        return true;
      return found(s, true);
    });
    break;
  case MetadataIn::PngChunks:
    ForEachPngChunk(file, [&](const Piece &c) {
      return c.type != FourCC("eXIf") || found(c, false);
    });
    break;
  case MetadataIn::RiffChunks:
    ForEachRiffChunk(file, [&](const Piece &c) {
      return c.type != FourCC("EXIF") || found(c, true);
    });
    break;
  case MetadataIn::Nowhere:
    break;
  }
  return orientation;
}

#include "picture/decoder/pixels/metadata.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <zlib.h>

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

// The content of a piece in memory, and whether it starts with `prefix`.
const unsigned char *contentOf(const ByteSource &file, const Piece &p) {
  return file.at(p.at, p.length);
}
bool startsWith(const ByteSource &file, const Piece &p, const char *prefix,
                size_t n) {
  const unsigned char *data = contentOf(file, p);
  return data != nullptr && p.length >= n && !std::memcmp(data, prefix, n);
}

// The orientation in a piece of EXIF data, behind JPEG's "Exif" prefix
// where it has one (some WebP writers keep it as well).
int orientationIn(const ByteSource &file, const Piece &exif) {
  const unsigned char *data = contentOf(file, exif);
  if (data == nullptr)
    return 1;
  if (startsWith(file, exif, "Exif\0", 6))
    return ExifOrientation(data + 6, size_t(exif.length - 6));
  return ExifOrientation(data, size_t(exif.length));
}

void useProfile(ColourDescription &c, const unsigned char *icc, size_t size,
                void *owned) {
  std::free(c.owned);
  c = {};
  if (icc == nullptr || size < 128 || size > kMaxProfileBytes) {
    std::free(owned);
    return;
  }
  c.source = ColourDescription::kIcc;
  c.icc = icc;
  c.iccSize = size;
  c.owned = owned;
}

// A JPEG's profile comes in APP2 "ICC_PROFILE" segments, each numbered 1 to
// their count: put together in that order, each number once.
void readJpegProfile(const ByteSource &file, ColourDescription &c) {
  const char kMarker[] = "ICC_PROFILE";
  Piece parts[256] = {};
  int count = 0, seen = 0;
  bool whole = true;
  uint64_t size = 0;
  ForEachJpegSegment(file, [&](const Piece &s) {
    if (s.type != 0xe2 || !startsWith(file, s, kMarker, sizeof kMarker) ||
        s.length < sizeof kMarker + 2)
      return true;
    const unsigned char *d = contentOf(file, s) + sizeof kMarker;
    int number = d[0], of = d[1];
    whole = whole && number >= 1 && number <= of &&
            (count == 0 || of == count) && parts[number].length == 0;
    count = of;
    if (whole) {
      parts[number] = {s.type, s.at + sizeof kMarker + 2,
                       s.length - sizeof kMarker - 2};
      size += parts[number].length;
      seen++;
    }
    return whole;
  });
  if (!whole || seen == 0 || seen != count || size > kMaxProfileBytes)
    return;
  unsigned char *icc = static_cast<unsigned char *>(std::malloc(size));
  size_t at = 0;
  for (int i = 1; icc != nullptr && i <= count; i++) {
    std::memcpy(icc + at, contentOf(file, parts[i]), parts[i].length);
    at += parts[i].length;
  }
  useProfile(c, icc, size, icc);
}

// PNG's iCCP: a name, a compression method (0: zlib) and the compressed
// profile.
void readPngProfile(const ByteSource &file, const Piece &chunk,
                    ColourDescription &c) {
  const unsigned char *d = contentOf(file, chunk);
  const void *end = d ? std::memchr(d, 0, size_t(chunk.length)) : nullptr;
  size_t name = end ? size_t(static_cast<const unsigned char *>(end) - d) : 0;
  if (end == nullptr || name + 2 > chunk.length || d[name + 1] != 0)
    return;
  unsigned char *icc =
      static_cast<unsigned char *>(std::malloc(size_t(kMaxProfileBytes)));
  z_stream z = {};
  if (icc == nullptr || inflateInit(&z) != Z_OK) {
    std::free(icc);
    return;
  }
  z.next_in = const_cast<unsigned char *>(d + name + 2);
  z.avail_in = uInt(chunk.length - name - 2);
  z.next_out = icc;
  z.avail_out = uInt(kMaxProfileBytes);
  bool inflated = inflate(&z, Z_FINISH) == Z_STREAM_END;
  size_t size = size_t(z.total_out);
  inflateEnd(&z);
  useProfile(c, inflated ? icc : nullptr, size, icc);
}

double pngNumber(const unsigned char *d) {
  return Be32(d) / 100000.0;
}

// The PNG rules give cICP the most weight, then iCCP, then sRGB, then gAMA
// with cHRM.
void readPngColours(const ByteSource &file, ColourDescription &c) {
  int weight = 0;
  double gamma = 0, chromaticities[8] = {}, brightest = 0, mastered = 0;
  ForEachPngChunk(file, [&](const Piece &chunk) {
    const unsigned char *d = contentOf(file, chunk);
    if (chunk.type == FourCC("cICP") && chunk.length == 4 && weight < 3) {
      std::free(c.owned);
      c = {};
      c.source = ColourDescription::kCoded;
      c.primaries = d[0];
      c.transfer = d[1];
      weight = 3;
    } else if (chunk.type == FourCC("iCCP") && weight < 2) {
      readPngProfile(file, chunk, c);
      weight = c.source == ColourDescription::kIcc ? 2 : weight;
    } else if (chunk.type == FourCC("sRGB") && weight < 1) {
      c.source = ColourDescription::kSrgb;
      weight = 1;
    } else if (chunk.type == FourCC("gAMA") && chunk.length == 4) {
      gamma = pngNumber(d);
    } else if (chunk.type == FourCC("cHRM") && chunk.length == 32) {
      for (int i = 0; i < 8; i++)
        chromaticities[i] = pngNumber(d + 4 * i);
    } else if (chunk.type == FourCC("cLLI") && chunk.length == 8) {
      brightest = Be32(d) / 10000.0; // in units of 0.0001 cd/m²
    } else if (chunk.type == FourCC("mDCV") && chunk.length == 24) {
      mastered = Be32(d + 16) / 10000.0;
    }
    return true;
  });
  c.peakNits = brightest > 0 ? brightest : mastered;
  if (weight == 0 && gamma > 0) {
    c.source = ColourDescription::kGammaAndPrimaries;
    c.gamma = gamma;
    std::memcpy(c.chromaticities, chromaticities, sizeof chromaticities);
  }
}

// HEIF's and AVIF's colour property, in the item properties of their
// metadata box: a profile, or code points. The first of each counts, a
// profile over code points. And their content light level and mastering
// display, for HDR.
void readIsoColours(const ByteSource &file, ColourDescription &c) {
  double brightest = 0, mastered = 0;
  bool profiled = false, coded = false;
  auto inside = [&](const Piece &box, uint64_t skip, auto f) {
    ForEachIsoBox(file, box.at + skip, box.at + box.length, f);
  };
  ForEachIsoBox(file, 0, file.size, [&](const Piece &meta) {
    if (meta.type != FourCC("meta"))
      return true;
    inside(meta, 4, [&](const Piece &iprp) { // after its version and flags
      if (iprp.type != FourCC("iprp"))
        return true;
      inside(iprp, 0, [&](const Piece &ipco) {
        if (ipco.type != FourCC("ipco"))
          return true;
        inside(ipco, 0, [&](const Piece &colr) {
          const unsigned char *d = contentOf(file, colr);
          if (d != nullptr && colr.type == FourCC("clli") && colr.length >= 4)
            brightest = Be16(d); // in cd/m²
          if (d != nullptr && colr.type == FourCC("mdcv") && colr.length >= 24)
            mastered = Be32(d + 16) / 10000.0; // in units of 0.0001 cd/m²
          if (colr.type != FourCC("colr") || d == nullptr || colr.length < 4)
            return true;
          uint32_t type = Be32(d);
          if ((type == FourCC("prof") || type == FourCC("rICC")) && !profiled) {
            useProfile(c, d + 4, size_t(colr.length - 4), nullptr);
            profiled = true;
          } else if (type == FourCC("nclx") && colr.length >= 10 && !profiled &&
                     !coded) {
            c.source = ColourDescription::kCoded;
            c.primaries = int(Be16(d + 4));
            c.transfer = int(Be16(d + 6));
            coded = true;
          }
          return true;
        });
        return false;
      });
      return false;
    });
    return false;
  });
  c.peakNits = brightest > 0 ? brightest : mastered;
}

} // namespace

PictureMetadata ReadMetadata(MetadataIn where, const ByteSource &file) {
  PictureMetadata m;
  bool oriented = false;
  // The first EXIF counts.
  auto exif = [&](const Piece &p) {
    if (!oriented)
      m.orientation = orientationIn(file, p);
    oriented = true;
  };
  switch (where) {
  case MetadataIn::JpegSegments:
    ForEachJpegSegment(file, [&](const Piece &s) {
      if (s.type == 0xe1 && startsWith(file, s, "Exif\0", 6))
        exif(s);
      return !oriented;
    });
    readJpegProfile(file, m.colours);
    break;
  case MetadataIn::PngChunks:
    ForEachPngChunk(file, [&](const Piece &c) {
      if (c.type == FourCC("eXIf"))
        exif(c);
      return !oriented;
    });
    readPngColours(file, m.colours);
    break;
  case MetadataIn::RiffChunks:
    ForEachRiffChunk(file, [&](const Piece &c) {
      if (c.type == FourCC("EXIF"))
        exif(c);
      if (c.type == FourCC("ICCP"))
        useProfile(m.colours, contentOf(file, c), size_t(c.length), nullptr);
      return true;
    });
    break;
  case MetadataIn::IsoBoxes:
    readIsoColours(file, m.colours);
    break;
  case MetadataIn::Nowhere:
    break;
  }
  return m;
}

void ReleaseMetadata(PictureMetadata &metadata) {
  std::free(metadata.colours.owned);
  metadata = {};
}

#include "picture/live_photos.h"

#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "picture/kinds.h"

namespace {

// The most bytes of metadata read into memory from a piece of a file: far
// more than a phone's EXIF or a MOV's list of keys takes.
constexpr uint64_t kMostMetadataBytes = 1 << 20;

bool readPiece(const ByteSource &file, uint64_t at, uint64_t length,
               std::vector<unsigned char> &out) {
  if (length > kMostMetadataBytes)
    return false;
  out.resize(size_t(length));
  return file.read(at, out.data(), out.size());
}

// The text at `p`, `n` bytes at most, up to its first NUL.
std::string textAt(const unsigned char *p, size_t n) {
  const void *nul = std::memchr(p, 0, n);
  return std::string(reinterpret_cast<const char *>(p),
                     nul ? static_cast<const unsigned char *>(nul) - p : n);
}

// Where the value of the entry `tag` of the TIFF directory at `directory`
// lies (from `base`, offsets counting from `base` too), and its type and
// count; false where there is none, or it runs past the end.
struct TiffValue {
  uint32_t type, count;
  size_t at, bytes;
};
bool tiffEntry(const unsigned char *base, size_t size, bool le,
               uint32_t directory, uint32_t tag, TiffValue &v) {
  if (directory > size || size - directory < 2)
    return false;
  uint32_t entries = Get16(base + directory, le);
  for (uint32_t i = 0; i < entries; i++) {
    size_t at = size_t(directory) + 2 + size_t(i) * 12;
    if (at + 12 > size)
      return false;
    const unsigned char *e = base + at;
    if (Get16(e, le) != tag)
      continue;
    v.type = Get16(e + 2, le);
    v.count = Get32(e + 4, le);
    size_t unit = v.type == 3 ? 2 : v.type == 4 ? 4 : 1;
    v.bytes = size_t(v.count) * unit;
    v.at = v.bytes <= 4 ? at + 8 : Get32(e + 8, le);
    return v.count <= size && v.at <= size && v.bytes <= size - v.at;
  }
  return false;
}

// Apple's maker note: "Apple iOS", its version, its byte order, then a
// directory whose offsets count from the note's start.
std::string inAppleMakerNote(const unsigned char *note, size_t size) {
  if (size < 16 || std::memcmp(note, "Apple iOS\0", 10) != 0 ||
      (std::memcmp(note + 12, "MM", 2) && std::memcmp(note + 12, "II", 2)))
    return "";
  TiffValue id;
  bool le = note[12] == 'I';
  if (!tiffEntry(note, size, le, 14, 0x0011, id) || id.type != 2)
    return "";
  return textAt(note + id.at, id.bytes);
}

// The identifier in EXIF data (a TIFF): its EXIF directory's maker note.
std::string inExif(const unsigned char *t, size_t size) {
  if (size < 8 || (std::memcmp(t, "II", 2) && std::memcmp(t, "MM", 2)))
    return "";
  bool le = t[0] == 'I';
  TiffValue exif, note;
  if (Get16(t + 2, le) != 42 ||
      !tiffEntry(t, size, le, Get32(t + 4, le), 0x8769, exif) ||
      exif.type != 4 || exif.count != 1 ||
      !tiffEntry(t, size, le, Get32(t + exif.at, le), 0x927c, note))
    return "";
  return inAppleMakerNote(t + note.at, note.bytes);
}

std::string inJpeg(const ByteSource &file) {
  std::string id;
  std::vector<unsigned char> exif;
  ForEachJpegSegment(file, [&](const Piece &s) {
    if (s.type != 0xe1 || s.length < 6 ||
        !readPiece(file, s.at, s.length, exif))
      return true;
    if (std::memcmp(exif.data(), "Exif\0\0", 6) != 0)
      return true;
    id = inExif(exif.data() + 6, exif.size() - 6);
    return false; // the first EXIF counts
  });
  return id;
}

// A HEIF's EXIF: the item of type "Exif" (iinf), where iloc puts it: four
// bytes saying where its TIFF starts, then the TIFF.
uint32_t exifItem(const ByteSource &file, const Piece &iinf) {
  unsigned char h[4];
  if (!file.read(iinf.at, h, 1))
    return 0;
  uint64_t first = iinf.at + 4 + (h[0] == 0 ? 2 : 4);
  uint32_t item = 0;
  ForEachIsoBox(file, first, iinf.at + iinf.length, [&](const Piece &b) {
    // Its version (2: 16-bit item numbers, 3: 32-bit) and flags, the
    // item's number, its protection, its type.
    unsigned char e[14];
    if (b.type != FourCC("infe") || !file.read(b.at, e, 1) || e[0] < 2 ||
        !file.read(b.at, e, e[0] == 2 ? 12 : 14))
      return true;
    bool wide = e[0] >= 3;
    if (Be32(e + (wide ? 10 : 8)) == FourCC("Exif"))
      item = wide ? Be32(e + 4) : Be16(e + 4);
    return item == 0;
  });
  return item;
}

// Where iloc puts `item`'s first extent (in the file, construction method
// 0); false where it doesn't.
bool itemPlace(const std::vector<unsigned char> &iloc, uint32_t item,
               uint64_t &at, uint64_t &length) {
  const unsigned char *p = iloc.data(), *end = p + iloc.size();
  if (iloc.size() < 8)
    return false;
  int version = p[0];
  int offsetSize = p[4] >> 4, lengthSize = p[4] & 15, baseSize = p[5] >> 4,
      indexSize = version >= 1 ? p[5] & 15 : 0;
  p += 6;
  auto number = [&](int bytes, uint64_t &v) {
    if (bytes != 0 && bytes != 4 && bytes != 8 && bytes != 2)
      return false;
    if (end - p < bytes)
      return false;
    v = 0;
    for (int i = 0; i < bytes; i++)
      v = v << 8 | *p++;
    return true;
  };
  uint64_t count, id, method = 0, reference, base, extents, index, offset;
  if (!number(version < 2 ? 2 : 4, count))
    return false;
  for (uint64_t i = 0; i < count; i++) {
    if (!number(version < 2 ? 2 : 4, id) ||
        (version >= 1 && !number(2, method)) || !number(2, reference) ||
        !number(baseSize, base) || !number(2, extents))
      return false;
    for (uint64_t e = 0; e < extents; e++) {
      if (!number(indexSize, index) || !number(offsetSize, offset) ||
          !number(lengthSize, length))
        return false;
      if (id == item && e == 0) {
        at = base + offset;
        return (method & 15) == 0 && at >= base;
      }
    }
  }
  return false;
}

std::string inHeif(const ByteSource &file) {
  std::string id;
  ForEachIsoBox(file, 0, file.size, [&](const Piece &meta) {
    if (meta.type != FourCC("meta"))
      return true;
    uint32_t item = 0;
    std::vector<unsigned char> iloc, exif;
    ForEachIsoBox(file, meta.at + 4, meta.at + meta.length,
                  [&](const Piece &b) {
                    if (b.type == FourCC("iinf"))
                      item = exifItem(file, b);
                    if (b.type == FourCC("iloc"))
                      readPiece(file, b.at, b.length, iloc);
                    return true;
                  });
    uint64_t at = 0, length = 0;
    if (item != 0 && itemPlace(iloc, item, at, length) && length >= 4 &&
        readPiece(file, at, length, exif)) {
      uint32_t tiff = Be32(exif.data());
      if (tiff <= exif.size() - 4)
        id = inExif(exif.data() + 4 + tiff, exif.size() - 4 - tiff);
    }
    return false;
  });
  return id;
}

// A MOV's metadata: "keys" names each item of "ilst" by its number; the
// item's "data" box holds its value, text (type 1) here.
std::string keyedValue(const ByteSource &file, const Piece &meta,
                       const char *key) {
  unsigned char h[4];
  // QuickTime's meta has no version and flags; ISO's has.
  uint64_t at =
      file.read(meta.at, h, 4) && Be32(h) == 0 ? meta.at + 4 : meta.at;
  uint32_t wanted = 0;
  std::string value;
  ForEachIsoBox(file, at, meta.at + meta.length, [&](const Piece &b) {
    std::vector<unsigned char> keys;
    if (b.type == FourCC("keys") && readPiece(file, b.at, b.length, keys) &&
        keys.size() >= 8) {
      size_t n = Be32(keys.data() + 4), p = 8;
      for (uint32_t i = 1; i <= n && p + 8 <= keys.size(); i++) {
        size_t size = Be32(keys.data() + p);
        if (size < 8 || size > keys.size() - p)
          break;
        if (textAt(keys.data() + p + 8, size - 8) == key)
          wanted = i;
        p += size;
      }
    }
    if (b.type == FourCC("ilst") && wanted != 0)
      ForEachIsoBox(file, b.at, b.at + b.length, [&](const Piece &item) {
        if (item.type != wanted)
          return true;
        ForEachIsoBox(file, item.at, item.at + item.length,
                      [&](const Piece &d) {
                        std::vector<unsigned char> data;
                        if (d.type == FourCC("data") && d.length > 8 &&
                            readPiece(file, d.at, d.length, data) &&
                            Be32(data.data()) == 1)
                          value = textAt(data.data() + 8, data.size() - 8);
                        return value.empty();
                      });
        return false;
      });
    return value.empty();
  });
  return value;
}

} // namespace

std::string PhotoContentIdentifier(const ByteSource &photo) {
  int kind = PictureKindOf(photo);
  return kind == kJpegKind   ? inJpeg(photo)
         : kind == kHeifKind ? inHeif(photo)
                             : "";
}

std::string MovContentIdentifier(const ByteSource &mov) {
  const char *key = "com.apple.quicktime.content.identifier";
  std::string id;
  ForEachIsoBox(mov, 0, mov.size, [&](const Piece &moov) {
    if (moov.type != FourCC("moov"))
      return true;
    ForEachIsoBox(mov, moov.at, moov.at + moov.length, [&](const Piece &b) {
      if (b.type == FourCC("meta"))
        id = keyedValue(mov, b, key);
      if (b.type == FourCC("udta"))
        ForEachIsoBox(mov, b.at, b.at + b.length, [&](const Piece &m) {
          if (m.type == FourCC("meta") && id.empty())
            id = keyedValue(mov, m, key);
          return id.empty();
        });
      return id.empty();
    });
    return false;
  });
  return id;
}

namespace {

std::string identifierOf(const std::string &path, bool photo) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  std::string id;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    ByteSource file{fd, nullptr, uint64_t(st.st_size)};
    id = photo ? PhotoContentIdentifier(file) : MovContentIdentifier(file);
  }
  if (fd >= 0)
    close(fd);
  return id;
}

} // namespace

bool SameMoment(const std::string &photoPath, const std::string &movPath) {
  std::string movId = identifierOf(movPath, false);
  if (movId.empty())
    return true;
  std::string photoId = identifierOf(photoPath, true);
  return photoId.empty() || strcasecmp(photoId.c_str(), movId.c_str()) == 0;
}

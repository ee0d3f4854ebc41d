#include "picture/decoder/libraries/motion_photo.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "picture/bytes.h"

namespace {

constexpr char kXmpName[] = "http://ns.adobe.com/xap/1.0/";

// The JPEG's XMP packet, as text (empty where it has none).
std::string xmpOf(const unsigned char *file, size_t size) {
  std::string xmp;
  if (size < 4 || file[0] != 0xff || file[1] != 0xd8)
    return xmp;
  ByteSource source{-1, file, size};
  ForEachJpegSegment(source, [&](const Piece &p) {
    if (p.type == 0xe1 && p.length > sizeof kXmpName &&
        std::memcmp(file + p.at, kXmpName, sizeof kXmpName) == 0) {
      xmp.assign(reinterpret_cast<const char *>(file + p.at) + sizeof kXmpName,
                 p.length - sizeof kXmpName);
      return false;
    }
    return true;
  });
  return xmp;
}

// The number an XMP property gives, as an attribute (name="N") or an
// element (<name>N</name>), looked for from `from`; -1 where there is none
// before `to`.
long long numberOf(const std::string &xmp, const char *name, size_t from = 0,
                   size_t to = std::string::npos) {
  std::string n = name;
  for (size_t at = xmp.find(n, from); at != xmp.npos && at < to;
       at = xmp.find(n, at + 1)) {
    size_t value = at + n.size();
    if (value < xmp.size() && (xmp[value] == '=' || xmp[value] == '>')) {
      value += xmp[value] == '=' ? 1 : 0;
      if (value < xmp.size() &&
          (xmp[value] == '"' || xmp[value] == '\'' || xmp[value] == '>'))
        value++;
      const char *digits = xmp.c_str() + value;
      char *end = nullptr;
      long long v = std::strtoll(digits, &end, 10);
      if (end != digits && v >= 0)
        return v;
    }
  }
  return -1;
}

// Google's: the length of the container's item whose semantic is
// MotionPhoto (its attributes and element, up to the next item), or the
// distance of the clip from the file's end that MicroVideoOffset gives.
long long googleLength(const std::string &xmp) {
  size_t semantic = xmp.find("MotionPhoto\"");
  if (semantic == xmp.npos)
    semantic = xmp.find("MotionPhoto'");
  if (semantic != xmp.npos) {
    size_t item = xmp.rfind("Item", semantic);
    size_t next = xmp.find("Container:Item", semantic);
    long long length =
        numberOf(xmp, "Item:Length", item == xmp.npos ? semantic : item, next);
    if (length > 0)
      return length;
  }
  return numberOf(xmp, "MicroVideoOffset");
}

// Samsung's: the bytes after its "MotionPhoto_Data" marker (the first: the
// clip after it may hold anything).
size_t samsungStart(const unsigned char *file, size_t size) {
  static const char kMarker[] = "MotionPhoto_Data";
  const void *found = memmem(file + 2, size - 2, kMarker, sizeof kMarker - 1);
  return found == nullptr
             ? 0
             : size_t(static_cast<const unsigned char *>(found) - file) +
                   sizeof kMarker - 1;
}

bool startsAnMp4(const unsigned char *file, size_t size, size_t at) {
  return at >= 2 && at < size && size - at >= 8 &&
         std::memcmp(file + at + 4, "ftyp", 4) == 0;
}

} // namespace

ClipInside MotionPhotoClip(const unsigned char *file, size_t size) {
  std::string xmp = xmpOf(file, size);
  long long length = xmp.empty() ? -1 : googleLength(xmp);
  if (length > 0 && size_t(length) < size &&
      startsAnMp4(file, size, size - size_t(length)))
    return {size - size_t(length), size_t(length)};
  if (size < 4 || file[0] != 0xff || file[1] != 0xd8)
    return {};
  size_t at = samsungStart(file, size);
  if (at > 0 && startsAnMp4(file, size, at))
    return {at, size - at};
  return {};
}

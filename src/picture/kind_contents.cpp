// What a file holds beyond its first bytes, for the kinds their first bytes
// can't tell (kinds.cpp): SVG drawings, whose root element may follow an XML
// declaration, comments and a document type; and camera RAW photos that are
// TIFF files underneath, told by their first directory. Both read a bounded
// part of the file, a few bytes at a time.
#include "picture/kind_contents.h"

#include <cctype>
#include <cstring>

#include "picture/kind_headers.h"

namespace {

// Skips what an XML document may hold before its root element, in `text`:
// white space, processing instructions (the XML declaration among them),
// comments, and a document type with its internal subset. Returns where the
// root element starts ('<' followed by its name), or `end` where the text
// ends first or holds anything else.
const char *rootElement(const char *text, const char *end) {
  const char *p = text;
  while (p < end) {
    auto startsWith = [&](const char *s) {
      size_t n = std::strlen(s);
      return size_t(end - p) >= n && std::memcmp(p, s, n) == 0;
    };
    auto skipPast = [&](const char *s) {
      const char *found = nullptr;
      for (const char *q = p; q + std::strlen(s) <= end && !found; q++)
        if (std::memcmp(q, s, std::strlen(s)) == 0)
          found = q + std::strlen(s);
      p = found ? found : end;
    };
    if (std::isspace(static_cast<unsigned char>(*p))) {
      p++;
    } else if (startsWith("<?")) {
      skipPast("?>");
    } else if (startsWith("<!--")) {
      skipPast("-->");
    } else if (startsWith("<!DOCTYPE")) {
      // Up to its '>', past the brackets of an internal subset and the
      // quoted strings and comments within it (which may hold '>'s and
      // brackets of their own).
      int depth = 0;
      for (p += 9; p < end && (*p != '>' || depth > 0);) {
        if (startsWith("<!--")) {
          skipPast("-->");
        } else if (*p == '\'' || *p == '"') {
          const char *close = static_cast<const char *>(
              std::memchr(p + 1, *p, size_t(end - p - 1)));
          p = close ? close + 1 : end;
        } else {
          depth += *p == '[' ? 1 : *p == ']' ? -1 : 0;
          p++;
        }
      }
      p = p < end ? p + 1 : end;
    } else {
      return *p == '<' ? p : end;
    }
  }
  return end;
}

bool isNameEnd(char c) {
  return std::isspace(static_cast<unsigned char>(c)) || c == '>' || c == '/';
}

// A TIFF's first directory: each entry's tag, and where its value lies (in
// the entry where it fits, else at the offset the entry holds).
struct Entry {
  uint32_t tag, type, count, value;
};

template <typename F>
void forEachFirstDirectoryEntry(const ByteSource &file, F f) {
  unsigned char head[8];
  ReadHeader(file, 0, head, sizeof head);
  bool le = head[0] == 'I';
  uint64_t at = Get32(head + 4, le);
  unsigned char count[2];
  ReadHeader(file, at, count, 2);
  uint32_t n = Get16(count, le);
  for (uint32_t i = 0; i < n && i < uint32_t(kMaxPiecesWalked); i++) {
    unsigned char e[12];
    ReadHeader(file, at + 2 + 12 * uint64_t(i), e, sizeof e);
    if (!f(Entry{Get16(e, le), Get16(e + 2, le), Get32(e + 4, le),
                 Get32(e + 8, le)},
           le, e + 8))
      return;
  }
}

// The camera makers whose RAW files are TIFF underneath, as their cameras
// write the Make tag.
const char *const kRawMakers[] = {
    "Canon",       "NIKON", "SONY",          "PENTAX",     "RICOH",
    "SAMSUNG",     "Leica", "LEICA",         "Hasselblad", "Phase One",
    "Mamiya",      "Kodak", "EASTMAN KODAK", "Minolta",    "KONICA MINOLTA",
    "SEIKO EPSON", "Sinar", "Leaf"};

bool madeByARawCamera(const ByteSource &file, const Entry &make,
                      const unsigned char *inEntry) {
  char name[16] = {};
  size_t n = make.count < sizeof name ? make.count : sizeof name - 1;
  if (make.type != 2 || n == 0)
    return false;
  if (make.count <= 4)
    std::memcpy(name, inEntry, n);
  else
    ReadHeader(file, make.value, reinterpret_cast<unsigned char *>(name), n);
  for (const char *maker : kRawMakers)
    if (std::strncmp(name, maker, std::strlen(maker)) == 0)
      return true;
  return false;
}

} // namespace

bool HoldsSvgDrawing(const ByteSource &file) {
  char text[kMarkupLookBytes];
  size_t n = size_t(file.size < sizeof text ? file.size : sizeof text);
  ReadHeader(file, 0, reinterpret_cast<unsigned char *>(text), n);
  const char *p = text, *end = text + n;
  if (n >= 3 && std::memcmp(p, "\xef\xbb\xbf", 3) == 0) // UTF-8's mark
    p += 3;
  p = rootElement(p, end);
  // <svg, or <prefix:svg where the drawing names its namespace so.
  if (end - p < 5)
    return false;
  const char *name = p + 1, *colon = name;
  while (colon < end && colon - name < 32 &&
         std::isalnum(static_cast<unsigned char>(*colon)))
    colon++;
  if (colon < end && *colon == ':')
    name = colon + 1;
  return end - name >= 4 && std::memcmp(name, "svg", 3) == 0 &&
         isNameEnd(name[3]);
}

bool HoldsCameraRaw(const ByteSource &file) {
  unsigned char head[12];
  ReadHeader(file, 0, head, sizeof head);
  // Canon's CR2 marks itself after the TIFF header.
  if (std::memcmp(head + 8, "CR\x02", 3) == 0)
    return true;
  bool raw = false;
  forEachFirstDirectoryEntry(
      file, [&](const Entry &e, bool, const unsigned char *inEntry) {
        if (e.tag == 0xc612) // DNGVersion
          raw = true;
        else if (e.tag == 0x010f) // Make
          raw = madeByARawCamera(file, e, inEntry);
        return !raw;
      });
  return raw;
}

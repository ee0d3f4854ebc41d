// Reading the bytes of picture files, for both sides of loading: numbers in
// either byte order, and walks over the pieces JPEG, PNG and RIFF (WebP)
// files are made of. The viewer reads a few bytes at a time from an open
// file (it never maps a whole picture); a decoder reads from the whole file
// in memory. Every read is checked against the file's end: these bytes are
// untrusted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/decoding_limits.h"

// A picture file: open on `fd`, or all of it at `data`.
struct ByteSource {
  int fd = -1;
  const unsigned char *data = nullptr;
  uint64_t size = 0;
  // Copies `n` bytes from `offset` to `out`; false where the file ends
  // before.
  bool read(uint64_t offset, void *out, size_t n) const;
  // `n` bytes from `offset` in place, in memory; null where the file ends
  // before or is not in memory.
  const unsigned char *at(uint64_t offset, uint64_t n) const;
};

inline uint32_t Get16(const unsigned char *p, bool littleEndian) {
  return littleEndian ? uint32_t(p[1]) << 8 | p[0] : uint32_t(p[0]) << 8 | p[1];
}
inline uint32_t Get32(const unsigned char *p, bool littleEndian) {
  return littleEndian ? Get16(p + 2, true) << 16 | Get16(p, true)
                      : Get16(p, false) << 16 | Get16(p + 2, false);
}
inline uint32_t Be16(const unsigned char *p) {
  return Get16(p, false);
}
inline uint32_t Be32(const unsigned char *p) {
  return Get32(p, false);
}
inline uint32_t Le16(const unsigned char *p) {
  return Get16(p, true);
}
inline uint32_t Le32(const unsigned char *p) {
  return Get32(p, true);
}

// One piece of a file: its type (a JPEG marker, or a PNG or RIFF chunk's
// four letters) and where its content lies.
struct Piece {
  uint32_t type;
  uint64_t at, length;
};

// A piece's four-letter type as a number, as Piece::type holds it.
constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 |
         uint32_t(uint8_t(s[2])) << 8 | uint32_t(uint8_t(s[3]));
}

// Calls `f` with each segment of a JPEG before its picture data, the
// content without the marker and length, until `f` returns false, the
// picture data or the end starts, or a segment is broken or runs past the
// file's end.
template <typename F> void ForEachJpegSegment(const ByteSource &file, F f) {
  uint64_t at = 2;
  for (int n = 0; n < kMaxPiecesWalked; n++) {
    unsigned char m[4];
    if (!file.read(at, m, sizeof m) || m[0] != 0xff)
      return;
    if (m[1] == 0xff) { // a fill byte
      at++;
      continue;
    }
    if (m[1] == 0xda || m[1] == 0xd9) // the picture data, or the end
      return;
    uint32_t length = Be16(m + 2);
    if (length < 2 || at + 2 + length > file.size ||
        !f(Piece{m[1], at + 4, length - 2u}))
      return;
    at += 2 + length;
  }
}

// Calls `f` with each chunk of a PNG before its picture data (IDAT), until
// `f` returns false or a chunk runs past the file's end.
template <typename F> void ForEachPngChunk(const ByteSource &file, F f) {
  uint64_t at = 8;
  for (int n = 0; n < kMaxPiecesWalked; n++) {
    unsigned char h[8];
    if (!file.read(at, h, sizeof h))
      return;
    uint64_t length = Be32(h);
    if (Be32(h + 4) == FourCC("IDAT") || at + 12 + length > file.size ||
        !f(Piece{Be32(h + 4), at + 8, length}))
      return;
    at += 12 + length;
  }
}

// Calls `f` with each chunk of a RIFF file (WebP), until `f` returns false
// or a chunk runs past the file's end.
template <typename F> void ForEachRiffChunk(const ByteSource &file, F f) {
  uint64_t at = 12;
  for (int n = 0; n < kMaxPiecesWalked; n++) {
    unsigned char h[8];
    if (!file.read(at, h, sizeof h))
      return;
    uint64_t length = Le32(h + 4);
    if (at + 8 + length > file.size || !f(Piece{Be32(h), at + 8, length}))
      return;
    at += 8 + length + (length & 1);
  }
}

// Calls `f` with each box of an ISO base media file (HEIF, AVIF) that lies
// between `at` and `end`, its content after its size and type, until `f`
// returns false or a box runs past `end`.
template <typename F>
void ForEachIsoBox(const ByteSource &file, uint64_t at, uint64_t end, F f) {
  for (int n = 0; n < kMaxPiecesWalked && at + 8 <= end; n++) {
    unsigned char h[16];
    if (!file.read(at, h, 8))
      return;
    uint64_t size = Be32(h), header = 8;
    if (size == 1) { // a 64-bit size follows the type
      if (!file.read(at + 8, h + 8, 8))
        return;
      size = uint64_t(Be32(h + 8)) << 32 | Be32(h + 12);
      header = 16;
    } else if (size == 0) { // to the end
      size = end - at;
    }
    if (size < header || size > end - at ||
        !f(Piece{Be32(h + 4), at + header, size - header}))
      return;
    at += size;
  }
}

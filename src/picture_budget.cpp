#include "picture_budget.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "picture_limits.h"
#include "picture_protocol.h"

namespace {

static_assert(sizeof kFormatLimits / sizeof kFormatLimits[0] == kKinds,
              "a limit for every kind of picture");

uint32_t be16(const unsigned char *p) {
  return uint32_t(p[0]) << 8 | p[1];
}
uint32_t le16(const unsigned char *p) {
  return uint32_t(p[1]) << 8 | p[0];
}
uint32_t be32(const unsigned char *p) {
  return be16(p) << 16 | be16(p + 2);
}
uint32_t le32(const unsigned char *p) {
  return le16(p + 2) << 16 | le16(p);
}

// A JPEG's size is in its frame header, which may follow large metadata
// segments: walk the segments from the start, reading a few bytes of each.
uint64_t jpegPixels(int fd) {
  unsigned char m[9];
  off_t pos = 2;
  for (int segments = 0; segments < 1000; segments++) {
    if (pread(fd, m, sizeof m, pos) != ssize_t(sizeof m) || m[0] != 0xff)
      return 0;
    unsigned marker = m[1];
    if (marker == 0xff) { // fill byte
      pos++;
      continue;
    }
    bool frame = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 &&
                 marker != 0xc8 && marker != 0xcc;
    if (frame)
      return uint64_t(be16(m + 5)) * be16(m + 7);
    if (marker == 0xd9 || marker == 0xda) // end, or scan data before a frame
      return 0;
    pos += 2 + off_t(be16(m + 2));
  }
  return 0;
}

// HEIF and AVIF give each picture's size in an "ispe" box near the start.
uint64_t ispePixels(int fd) {
  unsigned char b[4096];
  ssize_t n = pread(fd, b, sizeof b, 0);
  uint64_t most = 0;
  for (ssize_t i = 0; i + 16 <= n; i++)
    if (!std::memcmp(b + i, "ispe", 4))
      most = std::max(most, uint64_t(be32(b + i + 8)) * be32(b + i + 12));
  return most;
}

// Width times height as the header declares it, 0 where it can't be told.
uint64_t declaredPixels(int fd, const unsigned char *h, int kind) {
  switch (kind) {
  case kPng:
    return uint64_t(be32(h + 16)) * be32(h + 20);
  case kJpeg:
    return jpegPixels(fd);
  case kGif:
    return uint64_t(le16(h + 6)) * le16(h + 8);
  case kBmp: {
    if (le32(h + 14) == 12) // the old OS/2 header: 16-bit sizes
      return uint64_t(le16(h + 18)) * le16(h + 20);
    int32_t height = int32_t(le32(h + 22));
    return uint64_t(le32(h + 18)) *
           uint64_t(height < 0 ? -int64_t(height) : int64_t(height));
  }
  case kPsd:
    return uint64_t(be32(h + 14)) * be32(h + 18);
  case kDds:
    return uint64_t(le32(h + 12)) * le32(h + 16);
  case kWebp:
    if (!std::memcmp(h + 12, "VP8X", 4))
      return uint64_t((le32(h + 24) & 0xffffff) + 1) *
             ((le32(h + 27) & 0xffffff) + 1);
    if (!std::memcmp(h + 12, "VP8L", 4)) {
      uint32_t bits = le32(h + 21);
      return uint64_t((bits & 0x3fff) + 1) * (((bits >> 14) & 0x3fff) + 1);
    }
    if (!std::memcmp(h + 12, "VP8 ", 4))
      return uint64_t(le16(h + 26) & 0x3fff) * (le16(h + 28) & 0x3fff);
    return 0;
  case kHeif:
  case kAvif:
    return ispePixels(fd);
  default:
    return 0;
  }
}

int32_t kindOf(const unsigned char *h) {
  if (!std::memcmp(h, "\x89PNG", 4))
    return kPng;
  if (h[0] == 0xff && h[1] == 0xd8)
    return kJpeg;
  if (!std::memcmp(h, "GIF8", 4))
    return kGif;
  if (!std::memcmp(h, "BM", 2))
    return kBmp;
  if (!std::memcmp(h, "8BPS", 4))
    return kPsd;
  if (!std::memcmp(h, "DDS ", 4))
    return kDds;
  if (!std::memcmp(h, "#?", 2))
    return kHdr;
  if (!std::memcmp(h, "II*\0", 4) || !std::memcmp(h, "MM\0*", 4))
    return kTiff;
  if (!std::memcmp(h, "RIFF", 4) && !std::memcmp(h + 8, "WEBP", 4))
    return kWebp;
  if (!std::memcmp(h + 4, "ftyp", 4))
    return !std::memcmp(h + 8, "avi", 3) ? kAvif : kHeif;
  return kOtherKind;
}

} // namespace

int64_t PictureBudgetUs(int fd, int64_t bytes, int32_t &kind) {
  unsigned char h[32] = {};
  kind = kOtherKind;
  if (pread(fd, h, sizeof h, 0) < 0)
    return kBaseBudgetUs;
  kind = kindOf(h);
  const FormatLimits &f = kFormatLimits[kind];

  uint64_t declared = declaredPixels(fd, h, kind);
  if (declared > kMaxPictureBytes)
    return -1;
  double pixels = double(bytes) * f.maxPixelsPerByte;
  if (declared > 0)
    pixels = std::min(pixels, double(declared));
  pixels = std::min(pixels, double(kMaxPictureBytes));
  double us = double(kBaseBudgetUs) +
              pixels * f.nsPerPixel * double(kBudgetSafety) / 1000.0;
  return int64_t(std::min(us, double(kMaxBudgetUs)));
}

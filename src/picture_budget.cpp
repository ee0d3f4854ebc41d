#include "picture_budget.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

#include "picture_limits.h"

namespace {

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

const FormatLimits &limits(const char *name) {
  for (const FormatLimits &f : kFormatLimits)
    if (std::strcmp(f.name, name) == 0)
      return f;
  return kFormatLimits[sizeof kFormatLimits / sizeof kFormatLimits[0] - 1];
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

// Width times height as the header declares it, 0 where it can't be told.
uint64_t declaredPixels(int fd, const unsigned char *h, const char *kind) {
  if (!std::strcmp(kind, "png"))
    return uint64_t(be32(h + 16)) * be32(h + 20);
  if (!std::strcmp(kind, "jpeg"))
    return jpegPixels(fd);
  if (!std::strcmp(kind, "gif"))
    return uint64_t(le16(h + 6)) * le16(h + 8);
  if (!std::strcmp(kind, "bmp")) {
    if (le32(h + 14) == 12) // the old OS/2 header: 16-bit sizes
      return uint64_t(le16(h + 18)) * le16(h + 20);
    int32_t height = int32_t(le32(h + 22));
    return uint64_t(le32(h + 18)) *
           uint64_t(height < 0 ? -int64_t(height) : int64_t(height));
  }
  if (!std::strcmp(kind, "psd"))
    return uint64_t(be32(h + 14)) * be32(h + 18);
  if (!std::strcmp(kind, "dds"))
    return uint64_t(le32(h + 12)) * le32(h + 16);
  return 0;
}

const char *kindOf(const unsigned char *h) {
  if (!std::memcmp(h, "\x89PNG", 4))
    return "png";
  if (h[0] == 0xff && h[1] == 0xd8)
    return "jpeg";
  if (!std::memcmp(h, "GIF8", 4))
    return "gif";
  if (!std::memcmp(h, "BM", 2))
    return "bmp";
  if (!std::memcmp(h, "8BPS", 4))
    return "psd";
  if (!std::memcmp(h, "DDS ", 4))
    return "dds";
  if (!std::memcmp(h, "#?", 2))
    return "hdr";
  return "other";
}

} // namespace

int64_t PictureBudgetUs(int fd, int64_t bytes) {
  unsigned char h[32] = {};
  if (pread(fd, h, sizeof h, 0) < 0)
    return kBaseBudgetUs;
  const char *kind = kindOf(h);
  const FormatLimits &f = limits(kind);

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

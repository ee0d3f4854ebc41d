#include "picture/viewer/decoders/budget.h"

#include <algorithm>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"

namespace {

// The share of a whole decoding's work that decoding `size` smaller (by a
// reader that does) takes: reading all of its data, a fifth of the work
// (measured with libjpeg-turbo, whose 1/2 takes 0.35 of the whole and 1/8
// 0.07 to 0.18), and making the pixels, in proportion to how many come out.
double shareOfTheWork(const PictureKind &k, PictureSize size, int maxSide) {
  bool smaller = k.readers & kDecodeSmaller;
  double w = double(size.width), h = double(size.height);
  if (!smaller || size.pixels() == 0 ||
      Fits(int64_t(size.width), int64_t(size.height), 3, maxSide))
    return 1;
  double area =
      std::min({1.0, maxSide / w * (maxSide / w), maxSide / h * (maxSide / h),
                double(kMaxPictureBytes) / (w * h * 3)});
  return 0.2 + 0.8 * area;
}

// The time to map an HDR picture's light, for a kind that may be one, on
// the pixels it may show: at most the screen's side squared.
double hdrMappingUs(int kind, double pixels, int maxSide) {
  bool mayBeHdr = kind == kPngKind || kind == kHeifKind || kind == kAvifKind ||
                  kind == kJxlKind;
  double shown = std::min(pixels, double(maxSide) * double(maxSide));
  return mayBeHdr
             ? shown * kHdrMappingNsPerPixel * double(kBudgetSafety) / 1000.0
             : 0;
}

} // namespace

int64_t PictureBudgetUs(int fd, int64_t bytes, int kind, int maxSide) {
  const PictureKind &k = kPictureKinds[kind];
  if (k.readers == kReadWithRsvg)
    return kDrawingBudgetUs;
  if (IsClip(kind))
    return kClipBudgetUs;
  ByteSource file{fd, nullptr, uint64_t(bytes)};
  PictureSize size = k.declaredSize ? k.declaredSize(file) : PictureSize{};
  double declared = double(size.pixels());
  double holdable = double(bytes) * k.maxPixelsPerByte;
  if (declared > double(kMaxPictureBytes) && declared > holdable)
    return -1;
  double pixels = declared > 0 ? std::min(declared, holdable) : holdable;
  double us = double(kBaseBudgetUs) +
              pixels * shareOfTheWork(k, size, maxSide) * k.nsPerPixel *
                  double(kBudgetSafety) / 1000.0 +
              hdrMappingUs(kind, pixels, maxSide);
  return int64_t(std::min(us, double(kMaxBudgetUs)));
}

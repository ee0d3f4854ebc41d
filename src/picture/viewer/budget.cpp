#include "picture/viewer/budget.h"

#include <algorithm>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"

int64_t PictureBudgetUs(int fd, int64_t bytes, int kind) {
  const PictureKind &k = kPictureKinds[kind];
  ByteSource file{fd, nullptr, uint64_t(bytes)};
  uint64_t declared = k.declaredPixels ? k.declaredPixels(file) : 0;
  if (declared > kMaxPictureBytes)
    return -1;
  double pixels = double(bytes) * k.maxPixelsPerByte;
  if (declared > 0)
    pixels = std::min(pixels, double(declared));
  pixels = std::min(pixels, double(kMaxPictureBytes));
  double us = double(kBaseBudgetUs) +
              pixels * k.nsPerPixel * double(kBudgetSafety) / 1000.0;
  return int64_t(std::min(us, double(kMaxBudgetUs)));
}

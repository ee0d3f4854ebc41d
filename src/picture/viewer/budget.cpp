#include "picture/viewer/budget.h"

#include <algorithm>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"

int64_t PictureBudgetUs(int fd, int64_t bytes, int32_t &kind) {
  unsigned char head[kHeadBytes] = {};
  kind = kPictureKindCount - 1;
  if (pread(fd, head, sizeof head, 0) < 0)
    return kBaseBudgetUs;
  kind = PictureKindOf(head);
  const PictureKind &k = kPictureKinds[kind];

  uint64_t declared = k.declaredPixels ? k.declaredPixels(fd, head) : 0;
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

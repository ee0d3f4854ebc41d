#include "picture/decoder/handover.h"

#include <cstring>

bool HandOver(const DecodedPicture &picture, unsigned char *slot,
              DecodeResult &result) {
  int w = picture.width, h = picture.height, ch = picture.channels;
  if (picture.pixels == nullptr || !FitsInSlot(w, h, ch) ||
      picture.stride < size_t(w) * size_t(ch))
    return false;
  size_t row = size_t(w) * size_t(ch);
  for (int y = 0; y < h; y++)
    std::memcpy(slot + size_t(h - 1 - y) * row,
                picture.pixels + size_t(y) * picture.stride, row);
  result.width = w;
  result.height = h;
  result.channels = ch;
  return true;
}

#include "picture/decoder/pixels/handover.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// How the stored pixels are walked to fill the slot: the slot's pixel x of
// row y (row 0 the bottom row of the picture as it is shown) is stored at
// byte first + x * across + y * up.
struct Walk {
  ptrdiff_t first, across, up;
};

// For each EXIF orientation: how the stored picture, w x h, is to be turned
// to be shown.
Walk walkFor(int orientation, int w, int h, ptrdiff_t stride, int channels) {
  ptrdiff_t pixel = channels, right = ptrdiff_t(w - 1) * channels,
            bottom = ptrdiff_t(h - 1) * stride;
  switch (orientation) {
  case 2: // mirrored left to right
    return {bottom + right, -pixel, -stride};
  case 3: // turned half round
    return {right, -pixel, stride};
  case 4: // mirrored top to bottom
    return {0, pixel, stride};
  case 5: // mirrored along the diagonal from the top left
    return {right, stride, -pixel};
  case 6: // to be turned a quarter clockwise
    return {bottom + right, -stride, -pixel};
  case 7: // mirrored along the other diagonal
    return {bottom, -stride, pixel};
  case 8: // to be turned a quarter anticlockwise
    return {0, stride, pixel};
  default: // as stored: only the rows flipped
    return {bottom, pixel, -stride};
  }
}

// Copies pixel by pixel, in tiles that stay in the cache while the walk
// goes across the stored rows.
template <int channels>
void copyTurned(const unsigned char *stored, Walk walk, unsigned char *slot,
                int width, int height) {
  constexpr int kTile = 64;
  size_t row = size_t(width) * channels;
  for (int y0 = 0; y0 < height; y0 += kTile) {
    int y1 = std::min(height, y0 + kTile);
    for (int x0 = 0; x0 < width; x0 += kTile) {
      int x1 = std::min(width, x0 + kTile);
      for (int y = y0; y < y1; y++) {
        unsigned char *out = slot + size_t(y) * row + size_t(x0) * channels;
        const unsigned char *in =
            stored + walk.first + y * walk.up + x0 * walk.across;
        for (int x = x0; x < x1; x++, out += channels, in += walk.across)
          std::memcpy(out, in, channels);
      }
    }
  }
}

// A picture made smaller by a whole factor (protocol.h: ReductionFactor): each
// pixel the average of a square of `factor` x `factor` of them (fewer at
// the right and top edges), walked as the picture is turned.
void copyReduced(const unsigned char *stored, Walk walk, int channels,
                 int factor, int width, int height, unsigned char *slot,
                 int outWidth, int outHeight) {
  unsigned sums[4];
  for (int y = 0; y < outHeight; y++) {
    int y0 = y * factor, y1 = std::min(height, y0 + factor);
    for (int x = 0; x < outWidth; x++) {
      int x0 = x * factor, x1 = std::min(width, x0 + factor);
      std::fill(sums, sums + channels, 0u);
      for (int sy = y0; sy < y1; sy++) {
        const unsigned char *in =
            stored + walk.first + sy * walk.up + x0 * walk.across;
        for (int sx = x0; sx < x1; sx++, in += walk.across)
          for (int c = 0; c < channels; c++)
            sums[c] += in[c];
      }
      unsigned n = unsigned((y1 - y0) * (x1 - x0));
      unsigned char *out =
          slot + (size_t(y) * size_t(outWidth) + size_t(x)) * size_t(channels);
      for (int c = 0; c < channels; c++)
        out[c] = static_cast<unsigned char>((sums[c] + n / 2) / n);
    }
  }
}

// Each pixel of a `factor` x `factor` square of `in`'s, in place, as
// copyReduced makes them.
template <typename Value>
void reduceInPlace(DecodedPicture &picture, int factor) {
  int ch = picture.channels, w = picture.width, h = picture.height;
  int outWidth = (w + factor - 1) / factor,
      outHeight = (h + factor - 1) / factor;
  auto *bytes = const_cast<unsigned char *>(picture.pixels);
  uint64_t sums[4];
  // Each pixel is written at or before the first of those it is made of:
  // none is overwritten before it is read.
  for (int y = 0; y < outHeight; y++) {
    int y0 = y * factor, y1 = std::min(h, y0 + factor);
    auto *out = reinterpret_cast<Value *>(bytes) + size_t(y) * outWidth * ch;
    for (int x = 0; x < outWidth; x++, out += ch) {
      int x0 = x * factor, x1 = std::min(w, x0 + factor);
      std::fill(sums, sums + ch, 0u);
      for (int sy = y0; sy < y1; sy++) {
        const auto *in = reinterpret_cast<const Value *>(
                             bytes + size_t(sy) * picture.stride) +
                         size_t(x0) * ch;
        for (int sx = x0; sx < x1; sx++)
          for (int c = 0; c < ch; c++)
            sums[c] += *in++;
      }
      uint64_t n = uint64_t(y1 - y0) * uint64_t(x1 - x0);
      for (int c = 0; c < ch; c++)
        out[c] = static_cast<Value>((sums[c] + n / 2) / n);
    }
  }
  picture.width = outWidth;
  picture.height = outHeight;
  picture.stride = size_t(outWidth) * size_t(ch) * sizeof(Value);
}

} // namespace

void MakeSmallerInPlace(DecodedPicture &picture, int factor) {
  if (factor <= 1 || picture.pixels == nullptr || picture.width <= 0 ||
      picture.height <= 0 || picture.channels < 1 || picture.channels > 4)
    return;
  if (picture.bits == 16)
    reduceInPlace<uint16_t>(picture, factor);
  else
    reduceInPlace<unsigned char>(picture, factor);
}

bool HandOver(const DecodedPicture &picture, const ColourConversion *colours,
              ShownSize shown, unsigned char *slot, DecodeResult &result) {
  int w = picture.width, h = picture.height, ch = picture.channels;
  if (picture.pixels == nullptr || w <= 0 || h <= 0 || ch < 1 || ch > 4 ||
      shown.maxSide <= 0 || picture.stride < size_t(w) * size_t(ch))
    return false;
  bool sideways = picture.orientation >= 5 && picture.orientation <= 8;
  int width = sideways ? h : w, height = sideways ? w : h;
  Walk walk = walkFor(picture.orientation, w, h, ptrdiff_t(picture.stride), ch);
  int factor = int(ReductionFactor(width, height, ch, shown));
  int outWidth = (width + factor - 1) / factor;
  int outHeight = (height + factor - 1) / factor;
  size_t row = size_t(outWidth) * size_t(ch);
  if (factor > 1) {
    copyReduced(picture.pixels, walk, ch, factor, width, height, slot, outWidth,
                outHeight);
  } else if (walk.across == ch) { // whole rows in order, or upside down
    for (int y = 0; y < height; y++) {
      const unsigned char *stored = picture.pixels + walk.first + y * walk.up;
      if (colours != nullptr) // converted as they are copied
        ConvertRow(*colours, stored, slot + size_t(y) * row, width);
      else
        std::memcpy(slot + size_t(y) * row, stored, row);
    }
  } else {
    void (*copy[])(const unsigned char *, Walk, unsigned char *, int, int) = {
        copyTurned<1>, copyTurned<2>, copyTurned<3>, copyTurned<4>};
    copy[ch - 1](picture.pixels, walk, slot, width, height);
  }
  bool converted = factor == 1 && walk.across == ch;
  for (int y = 0; colours != nullptr && !converted && y < outHeight; y++)
    ConvertRow(*colours, slot + size_t(y) * row, slot + size_t(y) * row,
               outWidth);
  result.width = outWidth;
  result.height = outHeight;
  result.channels = ch;
  return true;
}

#include "picture/viewer/textures/mipmaps.h"

#include <cstddef>
#include <cstdint>

namespace {

// Halving `n` pixels to n / 2: each new pixel covers 2 + 1 / m of the old
// where n = 2m + 1 is odd, so it takes three of them, weighted by how much
// of each it covers: (m - i, m, i + 1) / (2m + 1). Where n is even, two
// halves.
struct Taps {
  int first;
  uint32_t weight[3];
  uint32_t total;
};

Taps tapsFor(int i, int n) {
  if (n == 1)
    return {0, {1, 0, 0}, 1};
  if (n % 2 == 0)
    return {2 * i, {1, 1, 0}, 2};
  uint32_t m = uint32_t(n / 2), k = uint32_t(i);
  return {2 * i, {m - k, m, k + 1}, 2 * m + 1};
}

int half(int n) {
  return n > 1 ? n / 2 : 1;
}

// Both sides even: each pixel the mean of a square of four.
void halvedEven(const unsigned char *pixels, int width, int channels,
                MipmapLevel &out) {
  size_t across = size_t(out.width) * size_t(channels);
  size_t row = size_t(width) * size_t(channels);
  for (int y = 0; y < out.height; y++) {
    const unsigned char *a = pixels + size_t(2 * y) * row, *b = a + row;
    unsigned char *o = &out.pixels[size_t(y) * across];
    for (int x = 0; x < out.width; x++, a += 2 * channels, b += 2 * channels)
      for (int c = 0; c < channels; c++)
        *o++ = static_cast<unsigned char>(
            (a[c] + a[c + channels] + b[c] + b[c + channels] + 2) / 4);
  }
}

// One level from the one before: across, into 8.8 fixed point, then down.
MipmapLevel halved(const unsigned char *pixels, int width, int height,
                   int channels) {
  MipmapLevel out;
  out.width = half(width);
  out.height = half(height);
  size_t across = size_t(out.width) * size_t(channels);
  if (width % 2 == 0 && height % 2 == 0) {
    out.pixels.resize(across * size_t(out.height));
    halvedEven(pixels, width, channels, out);
    return out;
  }
  std::vector<uint16_t> rows(across * size_t(height));
  for (int y = 0; y < height; y++) {
    const unsigned char *in = pixels + size_t(y) * size_t(width) * channels;
    uint16_t *row = &rows[size_t(y) * across];
    for (int x = 0; x < out.width; x++) {
      Taps t = tapsFor(x, width);
      for (int c = 0; c < channels; c++) {
        uint32_t sum = 0;
        for (int k = 0; k < 3; k++)
          if (t.weight[k] != 0)
            sum += t.weight[k] * in[size_t(t.first + k) * channels + c];
        row[size_t(x) * channels + c] =
            uint16_t((sum * 256 + t.total / 2) / t.total);
      }
    }
  }
  out.pixels.resize(across * size_t(out.height));
  for (int y = 0; y < out.height; y++) {
    Taps t = tapsFor(y, height);
    unsigned char *o = &out.pixels[size_t(y) * across];
    for (size_t i = 0; i < across; i++) {
      uint32_t sum = 0;
      for (int k = 0; k < 3; k++)
        if (t.weight[k] != 0)
          sum += t.weight[k] * rows[size_t(t.first + k) * across + i];
      uint32_t scale = t.total * 256;
      o[i] = static_cast<unsigned char>((sum + scale / 2) / scale);
    }
  }
  return out;
}

} // namespace

std::vector<MipmapLevel> MipmapChain(const unsigned char *pixels, int width,
                                     int height, int channels) {
  std::vector<MipmapLevel> chain;
  while (width > 1 || height > 1) {
    chain.push_back(halved(pixels, width, height, channels));
    pixels = chain.back().pixels.data();
    width = chain.back().width;
    height = chain.back().height;
  }
  return chain;
}

// A picture's mipmap chain: each level half the size of the one before
// (rounded down, at least 1), down to 1 x 1, made on the CPU with a real
// area filter, every pixel the average of what it covers of the level
// before, also where a side is odd. (The GL's own glGenerateMipmap, on
// Mesa a linear-filtered blit, samples an odd side's pixels unevenly, and
// turns fine detail into bands.)
#pragma once

#include <vector>

struct MipmapLevel {
  int width = 0, height = 0;
  std::vector<unsigned char> pixels; // rows tightly packed, as level 0's
};

// Levels 1 and on of a picture of `channels` 8-bit channels.
std::vector<MipmapLevel> MipmapChain(const unsigned char *pixels, int width,
                                     int height, int channels);

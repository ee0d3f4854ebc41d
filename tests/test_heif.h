// HEIF pictures written through libheif's own API, where heif-enc can't:
// Debian 12's writes no colour box, whatever its options say.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "pixel_probe.h"

// A 64 x 64 HEIF of four flat quadrants, its colour box saying BT.2020's
// primaries and `transfer` (H.273: 16 PQ, 18 HLG). False where no HEVC
// encoder is there (on Debian 13 it is a plugin of its own).
bool write_coded_heif(const std::string &path, const Quadrants &q,
                      int transfer);

// A pixel's 10-bit values.
struct Rgb16 {
  uint16_t r, g, b;
};

// A 10-bit HEIF of `width` x `height`, each pixel `pixel`'s, coded as the
// one above; false where it can't be written.
bool write_coded_heif_10bit(const std::string &path, int width, int height,
                            int transfer,
                            const std::function<Rgb16(int, int)> &pixel);

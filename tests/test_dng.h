// Camera RAW photos written by the tests: no Debian tool writes one.
#pragma once

#include <string>

// A DNG (little-endian TIFF): a raw mosaic of side x side 16-bit samples in
// an RGGB pattern, each site the red, green or blue `level` of 65535, in
// its first directory, with its Orientation (1 as stored, 3, 6, 8); and,
// where `previewJpeg` holds one, that JPEG as a preview in a second
// directory, as cameras store theirs.
struct RawLevels {
  int red, green, blue;
};
std::string dng_bytes(int side, RawLevels level, const std::string &previewJpeg,
                      int orientation);

// HEIF pictures written through libheif's own API, where heif-enc can't:
// Debian 12's writes no colour box, whatever its options say.
#pragma once

#include <string>

#include "pixel_probe.h"

// A 64 x 64 HEIF of four flat quadrants, its colour box saying BT.2020's
// primaries and `transfer` (H.273: 16 PQ, 18 HLG). False where no HEVC
// encoder is there (on Debian 13 it is a plugin of its own).
bool write_coded_heif(const std::string &path, const Quadrants &q,
                      int transfer);

// Bench rows for SVG drawings and camera RAW photos: exec to first frame.
#pragma once

#include <string>

// Markdown rows, `runs` interleaved starts each; empty where a run failed.
std::string DrawingAndRawRows(const std::string &viewer, int runs);

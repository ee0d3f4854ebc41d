// Bench rows for clips: six 1080p H.264 clips on the faces against their
// first frames as still pictures, and a 4K HEVC clip of 60 frames a second.
#pragma once

#include <string>

// Markdown rows, `runs` interleaved runs each; empty where a run failed.
std::string ClipRows(const std::string &viewer, int runs);

// Bench rows for animated pictures: six animated faces against six still
// ones, and a long, large GIF's memory.
#pragma once

#include <string>

// Markdown rows, `runs` interleaved runs each; empty where a run failed.
std::string AnimationRows(const std::string &viewer, int runs);

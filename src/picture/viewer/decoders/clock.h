// The one clock of the viewer's decoders and animations: monotonic, in
// microseconds.
#pragma once

#include <cstdint>
#include <ctime>

inline int64_t NowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// What the bench's parts share: medians of interleaved runs, and waiting
// for a moment in a viewer's run.
#pragma once

#include <algorithm>
#include <unistd.h>
#include <vector>

#include "viewer_process.h"

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Sleeps until `s` seconds after the process was started.
inline void sleepUntil(const ViewerProcess &p, double s) {
  long long at = p.started_ns() + (long long)(s * 1e9);
  long long now = ViewerProcess::now_ns();
  if (at > now)
    usleep(useconds_t((at - now) / 1000));
}

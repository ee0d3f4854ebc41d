// What the bench's parts share: medians of interleaved runs, waiting for a
// moment in a viewer's run, and the time to its first frame.
#pragma once

#include <algorithm>
#include <unistd.h>
#include <vector>

#include "test_pictures.h"
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

// The bundled pictures in a folder of their own, b1.jpg holding `b1`.
inline std::string folderWithB1(const std::string &b1) {
  std::string dir = make_temp_dir();
  run_command("cp " + std::string(PICTURES_DIR) + "/b?.jpg " + dir);
  write_bytes(dir + "/b1.jpg", b1);
  return dir;
}

// From exec to the viewer's first frame shown in `dir`; -1 where it failed
// or printed something.
inline double firstFrameMs(const std::string &viewer, const std::string &dir) {
  ViewerProcess p(dir, false, viewer);
  if (!p.wait_frames(1, 120))
    return -1;
  double ms = (p.record().first_swap_ns - p.started_ns()) / 1e6;
  return p.stop().empty() ? ms : -1;
}

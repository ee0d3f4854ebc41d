// Animated faces: six different 640 x 480 GIFs (ffmpeg's test patterns, 4 s
// at 25 frames a second) against the same cube with their first frames as
// still pictures (frames a second, longest frame, resident memory and CPU
// time of the viewer and its decoders together, exec to first frame); and
// a 1000 x 1000 GIF of 400 frames (1.6 GB of frames) beside the bundled
// pictures: the memory of the viewer and its decoders while it plays.
#include "animations.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "test_pictures.h"
#include "viewer_process.h"

namespace {

long statusKib(pid_t pid, const char *field) {
  std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find(field);
  return at == std::string::npos
             ? 0
             : std::atol(status.c_str() + at + std::strlen(field));
}

// CPU time of a process so far, in seconds (user and system).
double cpuSeconds(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos)
    return 0;
  // After the name: state, then fields 4 ... ; utime and stime are 14, 15.
  const char *p = stat.c_str() + at + 2;
  for (int field = 3; field < 14 && *p; field++)
    p = std::strchr(p, ' ') ? std::strchr(p, ' ') + 1 : "";
  long utime = std::atol(p);
  p = std::strchr(p, ' ') ? std::strchr(p, ' ') + 1 : "";
  return double(utime + std::atol(p)) / double(sysconf(_SC_CLK_TCK));
}

// The viewer and its decoders now: resident memory (KiB), the anonymous
// and shared part of it, and CPU time.
struct Together {
  long rssKib = 0, anonKib = 0;
  double cpu = 0;
};
Together together(const ViewerProcess &p) {
  Together t;
  std::vector<pid_t> all = p.children();
  all.push_back(p.pid());
  for (pid_t pid : all) {
    t.rssKib += statusKib(pid, "VmRSS:");
    t.anonKib += statusKib(pid, "RssAnon:") + statusKib(pid, "RssShmem:");
    t.cpu += cpuSeconds(pid);
  }
  return t;
}

} // namespace

// Frames from 2 to 10 s after the start, as the show's rows are taken.
bool MeasureFaces(const std::string &viewer, const std::string &dir,
                  Faces &out) {
  ViewerProcess p(dir, false, viewer);
  if (!p.wait_frames(1, 120))
    return false;
  out.firstFrameMs = (p.record().first_swap_ns - p.started_ns()) / 1e6;
  sleepUntil(p, 2);
  ProbeState &probe = p.probe();
  __atomic_store_n(&probe.longest_frame_ns, 0, __ATOMIC_RELEASE);
  __atomic_store_n(&probe.logging, 1u, __ATOMIC_RELEASE);
  FrameRecord a = p.record();
  Together ta = together(p);
  uint64_t updates = __atomic_load_n(&probe.texture_updates, __ATOMIC_ACQUIRE);
  sleepUntil(p, 10);
  FrameRecord b = p.record();
  Together tb = together(p);
  updates = __atomic_load_n(&probe.texture_updates, __ATOMIC_ACQUIRE) - updates;
  __atomic_store_n(&probe.logging, 0u, __ATOMIC_RELEASE);
  out.fps = double(b.frames - a.frames) * 1e9 /
            double(b.last_swap_ns - a.last_swap_ns);
  out.longestMs = double(probe.longest_frame_ns) / 1e6;
  out.framesShownPerSecond =
      double(updates) * 1e9 / double(b.last_swap_ns - a.last_swap_ns);
  out.cpuPerSecond =
      (tb.cpu - ta.cpu) * 1e9 / double(b.last_swap_ns - a.last_swap_ns);
  out.rssKib = tb.rssKib;
  out.anonKib = tb.anonKib;
  return p.stop().empty();
}

long PeakKib(const std::string &viewer, const std::string &dir, double seconds,
             bool anonymous) {
  ViewerProcess p(dir, false, viewer);
  if (!p.wait_frames(1, 120))
    return -1;
  long peak = 0;
  while ((ViewerProcess::now_ns() - p.started_ns()) / 1e9 < seconds) {
    Together t = together(p);
    peak = std::max(peak, anonymous ? t.anonKib : t.rssKib);
    usleep(100 * 1000);
  }
  return p.stop().empty() ? peak : -1;
}

namespace {

// Six animated GIFs, their first frames as stills, and the large GIF
// beside the bundled pictures: a folder each.
struct Folders {
  std::string moving, still, large;
};
Folders writeAnimations() {
  const char *patterns[6] = {"testsrc=size=640x480:rate=25",
                             "testsrc2=size=640x480:rate=25",
                             "rgbtestsrc=size=640x480:rate=25",
                             "smptebars=size=640x480:rate=25",
                             "mandelbrot=size=640x480:rate=25",
                             "life=s=640x480:mold=10:r=25:ratio=0.3"};
  std::string moving = make_temp_dir(), still = make_temp_dir(),
              large = make_temp_dir();
  for (int i = 0; i < 6; i++) {
    std::string face = "/b" + std::to_string(i + 1) + ".jpg";
    run_command("ffmpeg -loglevel error -y -f lavfi -i '" +
                std::string(patterns[i]) + "' -t 4 -f gif " + moving + face);
    run_command("convert '" + moving + face + "[0]' png:" + still + face);
  }
  run_command("cp " + std::string(PICTURES_DIR) + "/b?.jpg " + large);
  run_command("ffmpeg -loglevel error -y -f lavfi -i "
              "testsrc2=size=1000x1000:rate=25 -t 16 -f gif " +
              large + "/b1.jpg");
  return {moving, still, large};
}

} // namespace

std::string AnimationRows(const std::string &viewer, int runs) {
  Folders f = writeAnimations();
  const std::string &moving = f.moving, &still = f.still, &large = f.large;
  std::vector<double> mFirst, sFirst, mFps, sFps, mLongest, sLongest, mCpu,
      sCpu, mRss, sRss, largePeak, bundledPeak;
  for (int i = 0; i < runs; i++) {
    Faces m, s;
    if (!MeasureFaces(viewer, moving, m) || !MeasureFaces(viewer, still, s))
      return "";
    mFirst.push_back(m.firstFrameMs);
    sFirst.push_back(s.firstFrameMs);
    mFps.push_back(m.fps);
    sFps.push_back(s.fps);
    mLongest.push_back(m.longestMs);
    sLongest.push_back(s.longestMs);
    mCpu.push_back(m.cpuPerSecond);
    sCpu.push_back(s.cpuPerSecond);
    mRss.push_back(double(m.rssKib));
    sRss.push_back(double(s.rssKib));
    largePeak.push_back(double(PeakKib(viewer, large, 20, false)));
    bundledPeak.push_back(double(PeakKib(viewer, PICTURES_DIR, 20, false)));
  }
  for (const std::string &dir : {moving, still, large})
    remove_tree(dir);
  char rows[2000];
  std::snprintf(
      rows, sizeof rows,
      "| six animated 640 x 480 GIFs (100 frames each at 25 a second), "
      "against their first frames as still pictures: frames per second from "
      "2 to 10 s | %.0f | %.0f | %.2f |\n"
      "| the same: longest frame from 2 to 10 s (median run) | %.1f ms | "
      "%.1f ms | |\n"
      "| the same: CPU time a second, the viewer and its decoders together | "
      "%.2f s | %.2f s | |\n"
      "| the same: resident memory at 10 s, the viewer and its decoders "
      "together | %.0f KiB | %.0f KiB | %.2f |\n"
      "| the same: exec to first frame | %.0f ms | %.0f ms | %+.0f ms |\n"
      "| b1.jpg a 1000 x 1000 GIF of 400 frames (1.6 GB of frames), beside "
      "the bundled pictures, against the bundled pictures alone: resident "
      "memory of the viewer and its decoders together at its peak over 20 s "
      "| %.0f KiB | %.0f KiB | %+.0f KiB |\n",
      median(mFps), median(sFps), median(mFps) / median(sFps), median(mLongest),
      median(sLongest), median(mCpu), median(sCpu), median(mRss), median(sRss),
      median(mRss) / median(sRss), median(mFirst), median(sFirst),
      median(mFirst) - median(sFirst), median(largePeak), median(bundledPeak),
      median(largePeak) - median(bundledPeak));
  return rows;
}

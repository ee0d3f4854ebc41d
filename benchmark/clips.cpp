// Clips: six different 1920 x 1080 H.264 clips (ffmpeg's test patterns,
// 10 s at 30 frames a second, as a phone films) on the six faces, against
// the same cube with their first frames as still pictures: frames a second,
// longest frame, CPU time a second, memory, exec to the first frame. And a
// 3840 x 2160 HEVC clip of 60 frames a second on the front face beside the
// bundled pictures, against the bundled pictures alone: the frame rate, the
// CPU time and the memory at its peak. And the same clip ten minutes long
// (60 times over, its stream copied: 36,000 frames in its index), the
// memory at its peak.
#include "clips.h"

#include <cstdio>
#include <vector>

#include "animations.h"
#include "bench_support.h"

namespace {

struct Folders {
  std::string clips, stills, fourK, tenMinutes;
};

Folders writeClips() {
  const char *patterns[6] = {
      "testsrc2=",   "testsrc=",    "smptehdbars=",
      "rgbtestsrc=", "mandelbrot=", "cellauto=rule=110:"};
  Folders f = {make_temp_dir(), make_temp_dir(), make_temp_dir(),
               make_temp_dir()};
  for (int i = 0; i < 6; i++) {
    std::string face = "/b" + std::to_string(i + 1) + ".jpg";
    run_command("ffmpeg -loglevel error -y -f lavfi -i '" +
                std::string(patterns[i]) +
                "size=1920x1080:rate=30' -t 10 -c:v libx264 -preset veryfast "
                "-pix_fmt yuv420p -f mp4 " +
                f.clips + face);
    run_command("ffmpeg -loglevel error -y -i " + f.clips + face +
                " -frames:v 1 -f image2 -c:v png " + f.stills + face);
  }
  run_command("cp " + std::string(PICTURES_DIR) + "/b?.jpg " + f.fourK);
  run_command(
      "ffmpeg -loglevel error -y -f lavfi -i "
      "testsrc2=size=3840x2160:rate=60 -t 10 -c:v libx265 -preset "
      "ultrafast -x265-params log-level=error -pix_fmt yuv420p -f mp4 " +
      f.fourK + "/b1.jpg");
  run_command("cp " + std::string(PICTURES_DIR) + "/b?.jpg " + f.tenMinutes);
  run_command("for i in $(seq 60); do echo \"file '" + f.fourK +
              "/b1.jpg'\"; done > " + f.tenMinutes +
              "/list && ffmpeg -loglevel error -y -f concat -safe 0 -i " +
              f.tenMinutes + "/list -c copy -f mp4 " + f.tenMinutes +
              "/b1.jpg && rm " + f.tenMinutes + "/list");
  return f;
}

} // namespace

std::string ClipRows(const std::string &viewer, int runs) {
  Folders f = writeClips();
  std::vector<double> cFirst, sFirst, cFps, sFps, cLongest, sLongest, cCpu,
      sCpu, cAnon, sAnon, kFps, bFps, kCpu, bCpu, kPeak, bPeak, cShown, kShown,
      tPeak;
  for (int i = 0; i < runs; i++) {
    Faces c, s, k, b;
    if (!MeasureFaces(viewer, f.clips, c) ||
        !MeasureFaces(viewer, f.stills, s) ||
        !MeasureFaces(viewer, f.fourK, k) ||
        !MeasureFaces(viewer, PICTURES_DIR, b))
      return "";
    cFirst.push_back(c.firstFrameMs);
    sFirst.push_back(s.firstFrameMs);
    cFps.push_back(c.fps);
    sFps.push_back(s.fps);
    cLongest.push_back(c.longestMs);
    sLongest.push_back(s.longestMs);
    cCpu.push_back(c.cpuPerSecond);
    sCpu.push_back(s.cpuPerSecond);
    cAnon.push_back(double(c.anonKib));
    sAnon.push_back(double(s.anonKib));
    cShown.push_back(c.framesShownPerSecond / 6);
    kShown.push_back(k.framesShownPerSecond);
    kFps.push_back(k.fps);
    bFps.push_back(b.fps);
    kCpu.push_back(k.cpuPerSecond);
    bCpu.push_back(b.cpuPerSecond);
    kPeak.push_back(double(PeakKib(viewer, f.fourK, 12, true)));
    bPeak.push_back(double(PeakKib(viewer, PICTURES_DIR, 12, true)));
    tPeak.push_back(double(PeakKib(viewer, f.tenMinutes, 12, true)));
  }
  for (const std::string &dir : {f.clips, f.stills, f.fourK, f.tenMinutes})
    remove_tree(dir);
  char rows[2400];
  std::snprintf(
      rows, sizeof rows,
      "| six 1920 x 1080 H.264 clips (30 frames a second), against their "
      "first frames as still pictures: frames per second from 2 to 10 s | "
      "%.0f | %.0f | %.2f |\n"
      "| the same: longest frame from 2 to 10 s (median run) | %.1f ms | "
      "%.1f ms | |\n"
      "| the same: CPU time a second, the viewer and its decoders together | "
      "%.2f s | %.2f s | |\n"
      "| the same: anonymous and shared memory at 10 s, the viewer and its "
      "decoders together | %.0f KiB | %.0f KiB | %+.0f KiB |\n"
      "| the same: exec to first frame | %.0f ms | %.0f ms | %+.0f ms |\n"
      "| the same: frames of each clip shown a second (of its 30) | %.1f | | "
      "|\n"
      "| b1.jpg a 3840 x 2160 HEVC clip (60 frames a second), beside the "
      "bundled pictures, against the bundled pictures alone: frames per "
      "second from 2 to 10 s | %.0f | %.0f | %.2f |\n"
      "| the same: frames of the clip shown a second (of its 60) | %.1f | | "
      "|\n"
      "| the same: CPU time a second | %.2f s | %.2f s | |\n"
      "| the same: anonymous and shared memory at its peak over 12 s | %.0f "
      "KiB | %.0f KiB | %+.0f KiB |\n"
      "| the same clip ten minutes long (36,000 frames): anonymous and shared "
      "memory at its peak over 12 s | %.0f KiB | %.0f KiB | %+.0f KiB |\n",
      median(cFps), median(sFps), median(cFps) / median(sFps), median(cLongest),
      median(sLongest), median(cCpu), median(sCpu), median(cAnon),
      median(sAnon), median(cAnon) - median(sAnon), median(cFirst),
      median(sFirst), median(cFirst) - median(sFirst), median(cShown),
      median(kFps), median(bFps), median(kFps) / median(bFps), median(kShown),
      median(kCpu), median(bCpu), median(kPeak), median(bPeak),
      median(kPeak) - median(bPeak), median(tPeak), median(bPeak),
      median(tPeak) - median(bPeak));
  return rows;
}

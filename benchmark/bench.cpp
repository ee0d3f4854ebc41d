// Measures the viewer against a floor program that opens the same window and
// only clears and swaps: frame rate, time from exec to the first frame shown,
// and resident memory. Everything is read from outside the programs, through
// the preloaded frame probe and /proc. Runs are interleaved and medians taken.
//
//   bench [RUNS] [MARKDOWN_FILE]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "viewer_process.h"

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Run {
  double startup_ms = 0;
  double fps = 0;
};

// One process: time to its first frame, then frames per second over
// `seconds` once warm. Without `seconds` only the start-up is taken.
bool measure(const std::string &binary, const std::string &dir, double seconds,
             Run &out) {
  ViewerProcess p(dir, false, binary);
  if (!p.wait_frames(1, 120))
    return false;
  FrameRecord first = p.record();
  out.startup_ms = (first.first_swap_ns - p.started_ns()) / 1e6;
  if (seconds > 0) {
    if (!p.wait_frames(first.frames + 200, 60))
      return false;
    FrameRecord a = p.record();
    usleep(useconds_t(seconds * 1e6));
    FrameRecord b = p.record();
    out.fps = double(b.frames - a.frames) * 1e9 /
              double(b.last_swap_ns - a.last_swap_ns);
  }
  return !p.stop().size();
}

} // namespace

int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const char *markdown = argc > 2 ? argv[2] : nullptr;
  const std::string viewer = VORLIX_BINARY, floor = FLOOR_BINARY,
                    floorQuad = FLOOR_QUAD_BINARY;

  // Six large pictures: 2048 x 2048 baseline JPEGs of a fractal.
  std::string large = make_temp_dir();
  std::string made = run_command(
      "convert -size 2048x2048 -seed 7 plasma:fractal -interlace none "
      "-quality 90 " +
      large + "/b1.jpg 2>&1");
  for (int i = 2; i <= 6; i++)
    run_command("cp " + large + "/b1.jpg " + large + "/b" + std::to_string(i) +
                ".jpg");
  if (!made.empty()) {
    std::fprintf(stderr, "bench: could not make large pictures: %s\n",
                 made.c_str());
    return 1;
  }

  std::vector<double> vFps, fFps, vStart, fStart, lStart, qStart;
  for (int i = 0; i < runs; i++) {
    Run v, f, l, q;
    if (!measure(viewer, PICTURES_DIR, 2.0, v) ||
        !measure(floor, PICTURES_DIR, 2.0, f) ||
        !measure(viewer, large, 0, l) || !measure(floorQuad, large, 0, q)) {
      std::fprintf(stderr, "bench: a run failed\n");
      return 1;
    }
    vFps.push_back(v.fps);
    fFps.push_back(f.fps);
    vStart.push_back(v.startup_ms);
    fStart.push_back(f.startup_ms);
    lStart.push_back(l.startup_ms);
    qStart.push_back(q.startup_ms);
    std::fprintf(stderr,
                 "run %d: viewer %.0f fps %.1f ms, floor %.0f fps %.1f "
                 "ms, large pictures %.1f ms, floor with one quad %.1f ms\n",
                 i + 1, v.fps, v.startup_ms, f.fps, f.startup_ms, l.startup_ms,
                 q.startup_ms);
  }
  remove_tree(large);

  // Memory over a 40 s run on the bundled pictures: the first seconds warm
  // up the allocator and the X connection; after that it should stay put.
  long rss1 = 0, rss20 = 0, rss40 = 0, peak = 0;
  {
    ViewerProcess p(PICTURES_DIR);
    if (!p.wait_frames(1, 60))
      return 1;
    usleep(1000000);
    rss1 = p.rss_kib();
    usleep(19000000);
    rss20 = p.rss_kib();
    usleep(20000000);
    rss40 = p.rss_kib();
    peak = p.rss_kib("VmHWM");
  }

  double vf = median(vFps), ff = median(fFps);
  double vs = median(vStart), fs = median(fStart), ls = median(lStart);
  double qs = median(qStart);
  char table[2048];
  std::snprintf(
      table, sizeof table,
      "| measure (median of %d interleaved runs) | viewer | floor | viewer / "
      "floor |\n"
      "|---|---:|---:|---:|\n"
      "| frames per second, bundled pictures | %.0f | %.0f | %.2f |\n"
      "| exec to first frame shown, bundled pictures | %.1f ms | %.1f ms | "
      "+%.1f ms |\n"
      "| exec to first frame shown, six 2048 x 2048 JPEGs | %.1f ms | | "
      "+%.1f ms |\n"
      "| exec to first frame shown, floor drawing one textured quad | | "
      "%.1f ms | +%.1f ms |\n"
      "| resident memory after 1 s / 20 s / 40 s, peak | %ld / %ld / %ld KiB, "
      "%ld KiB | | %+ld KiB from 1 to 20 s, %+ld KiB from 20 to 40 s |\n",
      runs, vf, ff, vf / ff, vs, fs, vs - fs, ls, ls - fs, qs, qs - fs, rss1,
      rss20, rss40, peak, rss20 - rss1, rss40 - rss20);
  std::fputs(table, stdout);
  if (markdown) {
    if (FILE *f = std::fopen(markdown, "w")) {
      std::fputs(table, f);
      std::fclose(f);
    }
  }
  return 0;
}

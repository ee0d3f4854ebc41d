// Measures the viewer against floor programs that open the same window: one
// that only clears and swaps, one that draws a textured quad, and one that
// first loads the six pictures with SOIL one after the other in the process
// itself. Frame rate, time from exec to the first frame shown (with good,
// large and broken pictures), and resident memory. Everything is read from
// outside the programs, through the preloaded frame probe and /proc. Runs are
// interleaved and medians taken.
//
//   bench [RUNS] [MARKDOWN_FILE]
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "animations.h"
#include "bench_support.h"
#include "clips.h"
#include "drawings_and_raw.h"
#include "hdr_rows.h"
#include "viewer_process.h"

namespace {

unsigned char clampByte(double v) {
  return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
}

struct Run {
  double startup_ms = 0;
  double fps = 0;
};

// One process: time to its first frame, then frames per second over
// `seconds` once warm. Without `seconds` only the start-up is taken.
bool measure(const std::string &binary, const std::string &dir, double seconds,
             Run &out, const std::vector<std::string> &args = {}) {
  ViewerProcess p(dir, false, binary, "", args);
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

// The same, with this process and so the program pinned to the first core.
bool measureOnOneCore(const std::string &binary, const std::string &dir,
                      Run &out) {
  cpu_set_t all, one;
  sched_getaffinity(0, sizeof all, &all);
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  sched_setaffinity(0, sizeof one, &one);
  bool ok = measure(binary, dir, 0, out);
  sched_setaffinity(0, sizeof all, &all);
  return ok;
}

// One process run for 12 s: time to its first frame, frames per second
// from 2 s on, and resident memory at 12 s.
struct LongRun {
  double startup_ms = 0, fps = 0;
  long rss_kib = 0;
};

bool measureFor12s(const std::string &binary, const std::string &dir,
                   LongRun &out) {
  ViewerProcess p(dir, false, binary);
  if (!p.wait_frames(1, 120))
    return false;
  out.startup_ms = (p.record().first_swap_ns - p.started_ns()) / 1e6;
  sleepUntil(p, 2);
  FrameRecord a = p.record();
  sleepUntil(p, 12);
  FrameRecord b = p.record();
  out.rss_kib = p.rss_kib();
  out.fps = double(b.frames - a.frames) * 1e9 /
            double(b.last_swap_ns - a.last_swap_ns);
  return !p.stop().size();
}

// How far the viewer's first frame is from the same frame with every pixel
// the average of the pictures over its footprint (area_reference), over the
// faces' inner pixels: the mean difference in levels, and the share of
// pixels off by more than 24 levels in a channel.
struct Sharpness {
  double meanError = -1, offShare = -1;
};

Sharpness sharpness(const std::string &viewer, const std::string &dir) {
  Sharpness out;
  std::string work = make_temp_dir(), file = work + "/reference.rgba";
  std::string failed =
      run_command("cd '" + dir + "' && " + AREA_REFERENCE_BINARY + " " + file +
                  " >/dev/null 2>&1 || echo failed");
  std::string reference = read_file(file);
  remove_tree(work);
  ViewerProcess p(dir, true, viewer);
  Capture first;
  if (!failed.empty() || !p.wait_frames(1, 120) || !p.first_capture(first) ||
      reference.size() != first.image.rgba.size())
    return out;
  p.stop();
  double sum = 0;
  long pixels = 0, off = 0;
  for (size_t i = 0; i + 3 < reference.size(); i += 4) {
    if (static_cast<unsigned char>(reference[i + 3]) != 255)
      continue;
    int worst = 0;
    for (size_t c = 0; c < 3; c++) {
      int d = std::abs(int(first.image.rgba[i + c]) -
                       int(static_cast<unsigned char>(reference[i + c])));
      sum += d;
      worst = std::max(worst, d);
    }
    pixels++;
    off += worst > 24;
  }
  if (pixels > 0)
    out = {sum / (3.0 * double(pixels)), 100.0 * double(off) / double(pixels)};
  return out;
}

// A show through the launcher for 60 s: frames per second from 2 s on, the
// longest frame after the first, resident memory at 10 and 60 s, and how
// long after a face turned away it took its next picture.
struct ShowRun {
  double fps = 0, longest_ms = 0, wait_median_ms = 0, wait_longest_ms = 0;
  long rss10 = 0, rss60 = 0;
  int changes = 0;
};

// The resident memory of the viewer a launcher started (its child), KiB.
long childRssKib(const ViewerProcess &launcher) {
  std::vector<pid_t> children = launcher.children();
  std::string status =
      children.empty()
          ? ""
          : read_file("/proc/" + std::to_string(children[0]) + "/status");
  size_t at = status.find("VmRSS:");
  return at == std::string::npos ? 0L : std::atol(status.c_str() + at + 6);
}

bool measureShow(const std::string &launcher, const std::string &folder,
                 bool firstSix, ShowRun &out) {
  std::vector<std::string> args = {"--seconds", "1", folder};
  if (firstSix)
    args.insert(args.begin(), "--first-six");
  std::string work = make_temp_dir();
  ViewerProcess p(work, false, launcher, "", args);
  ProbeState &probe = p.probe();
  __atomic_store_n(&probe.logging, 1u, __ATOMIC_RELEASE);
  if (!p.wait_frames(1, 120))
    return false;
  sleepUntil(p, 2);
  FrameRecord a = p.record();
  auto viewerRss = [&] { return childRssKib(p); };
  sleepUntil(p, 10);
  out.rss10 = viewerRss();
  sleepUntil(p, 60);
  out.rss60 = viewerRss();
  FrameRecord b = p.record();
  __atomic_store_n(&probe.logging, 0u, __ATOMIC_RELEASE);
  out.fps = double(b.frames - a.frames) * 1e9 /
            double(b.last_swap_ns - a.last_swap_ns);
  out.longest_ms = double(probe.longest_frame_ns) / 1e6;
  // Each face's changes, and when it had last turned away before each.
  static const int normals[6][3] = {{0, 0, 1},  {0, 0, -1}, {0, 1, 0},
                                    {0, -1, 0}, {1, 0, 0},  {-1, 0, 0}};
  std::vector<double> waits;
  unsigned long long first =
      b.frames > PROBE_LOG_FRAMES ? b.frames - PROBE_LOG_FRAMES + 1 : 1;
  for (int f = 0; f < 6; f++) {
    long long awaySince = -1;
    for (unsigned long long n = first; n < b.frames; n++) {
      const ProbeFrame &was = probe.log[(n - 1) % PROBE_LOG_FRAMES],
                       &is = probe.log[n % PROBE_LOG_FRAMES];
      double towards = 0;
      for (int i = 0; i < 3; i++)
        towards += is.z_row[i] * normals[f][i];
      if (towards > 0.2)
        awaySince = -1;
      else if (awaySince < 0)
        awaySince = is.swap_ns;
      if (was.textures[f] != is.textures[f] && awaySince >= 0 && n > first)
        waits.push_back(double(is.swap_ns - awaySince) / 1e6);
    }
  }
  out.changes = int(waits.size());
  out.wait_median_ms = median(waits);
  out.wait_longest_ms =
      waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
  p.stop();
  remove_tree(work);
  return true;
}

// A folder holding the bundled pictures, with some of them replaced.
std::string folderWith(const std::vector<std::string> &replacements) {
  std::string dir = make_temp_dir();
  run_command("cp " + std::string(PICTURES_DIR) + "/b?.jpg " + dir);
  for (size_t i = 0; i < replacements.size(); i++)
    if (!replacements[i].empty())
      write_bytes(dir + "/b" + std::to_string(i + 1) + ".jpg", replacements[i]);
  return dir;
}

// A 200-byte PSD whose header declares a picture 4,000,000 x 30 pixels.
std::string tinyWidePsd() {
  std::string psd = "8BPS";
  psd += std::string("\x00\x01", 2) + std::string(6, '\0');
  psd += std::string("\x00\x03\x00\x00\x00\x1e\x00\x3d\x09\x00", 10);
  psd += std::string("\x00\x08\x00\x03", 4) + std::string(12, '\0');
  psd += std::string("\x00\x01", 2);
  psd.resize(200, '\x01');
  return psd;
}

} // namespace

// A photo library as a camera and a photo manager keep it: `folders`
// folders of 20 pictures (a folder a day, the days' folders in years'
// folders), its first six the bundled pictures, the others empty files
// (the viewer skips them when their turn comes).
std::string photoLibrary(int folders) {
  std::string library = make_temp_dir();
  for (int f = 0; f < folders; f++) {
    std::string year = library + "/" + std::to_string(2000 + f / 250);
    std::string day = year + "/" + std::to_string(f % 250 + 1);
    mkdir(year.c_str(), 0700);
    mkdir(day.c_str(), 0700);
    for (int i = 1; i <= 20; i++) {
      std::string picture = day + "/IMG_" + std::to_string(f * 20 + i) + ".jpg";
      if (f == 0 && i <= 6)
        write_bytes(picture, read_file(std::string(PICTURES_DIR) + "/b" +
                                       std::to_string(i) + ".jpg"));
      else
        close(open(picture.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600));
    }
  }
  return library;
}

// The library on a file system whose every listing takes `delay` seconds
// (tests/slow_listing_fs.py), mounted at the folder returned ("" where it
// can't be: no /dev/fuse, or not root). `fs` is its process.
std::string slowly(const std::string &library, const char *delay, pid_t &fs) {
  std::string slow = make_temp_dir();
  fs = fork();
  if (fs == 0)
    exec_program("/usr/bin/python3", {SLOW_LISTING_FS, library, slow, delay});
  struct stat st;
  for (int i = 0; i < 200 && stat((slow + "/2000").c_str(), &st) != 0; i++)
    usleep(50000);
  return stat((slow + "/2000").c_str(), &st) == 0 ? slow : "";
}

// The launcher's and the viewer's resident memory once the launcher has
// listed the whole library (its walk done: its memory has stopped growing).
bool libraryMemory(const std::string &launcher, const std::string &library,
                   long &launcherKib, long &viewerKib) {
  std::string work = make_temp_dir();
  ViewerProcess p(work, false, launcher, "", {"--from-start", library});
  if (!p.wait_frames(1, 120))
    return false;
  long before = -1;
  for (int i = 0; i < 120 && p.rss_kib() != before; i++) {
    before = p.rss_kib();
    usleep(2000000);
  }
  launcherKib = p.rss_kib();
  viewerKib = childRssKib(p);
  p.stop();
  remove_tree(work);
  return viewerKib > 0;
}

// A decoder's start (to the answer on a 2 x 2 picture, the median of 31)
// and its peak memory on a 12-megapixel photo, as decoder_start.cpp
// measures them; false where it failed.
bool measureDecoder(const std::string &photo, double &startMs, long &peakKib) {
  std::string dir = make_temp_dir();
  write_quadrant_picture(dir + "/tiny.tga", 2, 2, kFaceColours[0]);
  std::string out = run_command(std::string(DECODER_START_BINARY) + " 31 " +
                                dir + "/tiny.tga " + photo);
  remove_tree(dir);
  return std::sscanf(out.c_str(), "%lf %ld", &startMs, &peakKib) == 2;
}

// VORLIX_BENCH_AB=OLD: the viewer against an earlier build of it, OLD, in
// `runs` interleaved starts each: exec to first frame with the bundled
// pictures and with six 12-megapixel photos.
int compareWithEarlier(const std::string &old, const std::string &photos,
                       int runs) {
  std::vector<double> ob, nb, op, np;
  for (int i = 0; i < runs; i++) {
    Run a, b, c, d;
    if (!measure(old, PICTURES_DIR, 0, a) ||
        !measure(VORLIX_BINARY, PICTURES_DIR, 0, b) ||
        !measure(old, photos, 0, c) || !measure(VORLIX_BINARY, photos, 0, d))
      return 1;
    ob.push_back(a.startup_ms);
    nb.push_back(b.startup_ms);
    op.push_back(c.startup_ms);
    np.push_back(d.startup_ms);
  }
  std::printf(
      "| exec to first frame (median of %d interleaved starts) | "
      "this build | earlier build | difference |\n|---|---:|---:|---:|\n"
      "| bundled pictures | %.1f ms | %.1f ms | %+.1f ms |\n"
      "| six 12-megapixel JPEGs | %.0f ms | %.0f ms | %.2f |\n",
      runs, median(nb), median(ob), median(nb) - median(ob), median(np),
      median(op), median(np) / median(op));
  return 0;
}

int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  // The shows' places are kept apart from the user's, and go with the run.
  std::string places = make_temp_dir();
  setenv("XDG_STATE_HOME", places.c_str(), 1);
  const char *markdown = argc > 2 ? argv[2] : nullptr;
  // VORLIX_BENCH_VIEWER: another viewer to measure, an earlier build say.
  const char *other = std::getenv("VORLIX_BENCH_VIEWER");
  const std::string viewer = other ? other : VORLIX_BINARY,
                    launcher = LAUNCHER_BINARY, floor = FLOOR_BINARY,
                    floorQuad = FLOOR_QUAD_BINARY,
                    floorSoil = FLOOR_SOIL_BINARY, plain = PLAIN_SOIL_BINARY;
  // VORLIX_BENCH_ONLY=clips: the clips' rows alone, printed.
  const char *only = std::getenv("VORLIX_BENCH_ONLY");
  if (only != nullptr && std::string(only) == "clips") {
    std::string clips = ClipRows(viewer, runs);
    std::fputs(clips.c_str(), stdout);
    return clips.empty() ? 1 : 0;
  }

  // Six 12-megapixel photos: 4000 x 3000 baseline JPEGs of a fractal, each
  // in its own colours.
  std::string photos = make_temp_dir();
  std::string made =
      run_command("convert -size 4000x3000 -seed 7 plasma:fractal -blur 0x1 "
                  "-interlace none -quality 90 " +
                  photos + "/b1.jpg 2>&1");
  for (int i = 2; i <= 6; i++)
    made += run_command("convert " + photos + "/b1.jpg -modulate 100,100," +
                        std::to_string(30 * i) + " -interlace none " +
                        "-quality 90 " + photos + "/b" + std::to_string(i) +
                        ".jpg 2>&1");
  // The same six as progressive JPEGs, as most pictures saved from the web
  // are; and the first one alone with an EXIF Orientation of 1 and of 6 (a
  // portrait photo from a phone), among the bundled pictures.
  std::string progressive = make_temp_dir();
  for (int i = 1; i <= 6; i++) {
    std::string name = "/b" + std::to_string(i) + ".jpg";
    made += run_command("convert " + photos + name +
                        " -interlace JPEG -quality 90 " + progressive + name +
                        " 2>&1");
  }
  // The same six tagged Display P3, as phones tag their photos (the profile
  // put in without decoding them again).
  std::string p3 = make_temp_dir();
  write_profiles(p3);
  for (int i = 1; i <= 6; i++) {
    std::string name = "/b" + std::to_string(i) + ".jpg";
    made += run_command("cp " + photos + name + " " + p3 + name +
                        " && exiftool -q -q -overwrite_original "
                        "'-icc_profile<=" +
                        p3 + "/p3.icc' " + p3 + name + " 2>&1");
  }
  std::string upright = folderWith({read_file(photos + "/b1.jpg")});
  std::string sideways = folderWith({read_file(photos + "/b1.jpg")});
  made += run_command("exiftool -q -q -overwrite_original -Orientation=1 -n " +
                      upright + "/b1.jpg 2>&1");
  made += run_command("exiftool -q -q -overwrite_original -Orientation=6 -n " +
                      sideways + "/b1.jpg 2>&1");
  if (!made.empty()) {
    std::fprintf(stderr, "bench: could not make photos: %s\n", made.c_str());
    return 1;
  }
  if (const char *earlier = std::getenv("VORLIX_BENCH_AB"))
    return compareWithEarlier(earlier, photos, runs);
  // A medium-format camera's 102-megapixel photo (11648 x 8736): colour
  // waves with grain, as detailed to decode as a photo. And one 24-megapixel
  // photo on all six faces (as the launcher links one picture given alone),
  // against it on one face beside the bundled pictures.
  auto grain = [](int x, int y) {
    unsigned n = unsigned(x) * 2654435761u ^ unsigned(y) * 2246822519u;
    n ^= n >> 13;
    return int(n % 25) - 12;
  };
  auto photo = [&](int x, int y) {
    auto wave = [](double v) { return 128 + 90 * std::sin(v); };
    int g = grain(x, y);
    return Rgb{clampByte(wave(x / 700.0) + g), clampByte(wave(y / 500.0) + g),
               clampByte(wave((x + y) / 900.0) + g)};
  };
  std::string huge = folderWith({});
  write_jpeg(huge + "/b1.jpg", 11648, 8736, photo);
  std::string alone = folderWith({}), everywhere = make_temp_dir();
  write_jpeg(alone + "/b1.jpg", 6000, 4000, photo);
  for (int i = 1; i <= 6; i++)
    made += run_command("ln -s " + alone + "/b1.jpg " + everywhere + "/b" +
                        std::to_string(i) + ".jpg 2>&1");
  // Six pages of small print, in effect, as scanned: 4000 x 3000 pages of
  // one-pixel lines 3 to 5 pixels apart, across and down.
  std::string pages = make_temp_dir();
  for (int i = 1; i <= 6; i++)
    write_jpeg(pages + "/b" + std::to_string(i) + ".jpg", 4000, 3000,
               [i](int x, int y) {
                 bool line = (i % 2 ? x : y) % (2 + (i + 1) / 2) == 0;
                 return line ? Rgb{20, 20, 20} : Rgb{240, 240, 235};
               });
  // A camera folder of 100 12-megapixel photos (the six above, again and
  // again) for a show.
  std::string trip = make_temp_dir();
  for (int i = 0; i < 100; i++)
    made += run_command("ln -s " + photos + "/b" + std::to_string(i % 6 + 1) +
                        ".jpg " + trip + "/IMG_" + std::to_string(1000 + i) +
                        ".jpg 2>&1");
  // A 200-byte PNG whose header declares 60000 x 60000 pixels.
  std::string bomb = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) +
                     std::string("\0\0\xea\x60\0\0\xea\x60\x08\x02\0\0\0", 13);
  bomb.resize(200, '\0');
  std::string pngBomb = folderWith({bomb});
  std::string cutShort = folderWith({std::string("\xff\xd8\xff\xe0", 4)});
  std::string widePsd = folderWith({tinyWidePsd()});
  std::vector<std::string> corpus;
  for (const char *name :
       {"bmp-huge-declared-size.bmp", "jpeg-cut-short-loops.jpg",
        "png-inflate-assertion.png", "png-loops.png"})
    corpus.push_back(read_file(std::string(BAD_PICTURES_DIR) + "/" + name));
  std::string broken = folderWith(corpus);
  // A camera folder of 20,000 pictures for the launcher, the first six in
  // its order the bundled ones.
  std::string camera = make_temp_dir();
  for (int i = 1; i <= 20000; i++) {
    char name[32];
    std::snprintf(name, sizeof name, "/IMG_%05d.jpg", i);
    write_bytes(camera + name,
                i <= 6 ? read_file(std::string(PICTURES_DIR) + "/b" +
                                   std::to_string(i) + ".jpg")
                       : std::string());
  }

  // A library of 100,000 pictures in 5,000 folders, and one of 4,000 in
  // 200 on a file system whose every listing takes 50 ms.
  std::string library = photoLibrary(5000), smallLibrary = photoLibrary(200);
  pid_t slowFs = -1;
  std::string slowLibrary = slowly(smallLibrary, "0.05", slowFs);
  if (slowLibrary.empty()) {
    std::fprintf(stderr, "bench: the slow file system could not be mounted\n");
    return 1;
  }
  std::vector<double> lib, slowLib;
  std::vector<double> vFps, fFps, vStart, fStart, qStart, pv, pf, pv1, pf1, pp,
      pc, hv, hf, ev, av, o1, o6, cam, cut, psd, png, bad, lvStart, lpStart,
      lvFps, lpFps, lvRss, lpRss, decoderStart, decoderPeak;
  std::vector<ShowRun> shows, stills;
  for (int i = 0; i < runs; i++) {
    LongRun lv, lp;
    ShowRun sc, ss;
    if (!measureFor12s(viewer, photos, lv) ||
        !measureFor12s(plain, photos, lp) ||
        !measureShow(launcher, trip, false, sc) ||
        !measureShow(launcher, trip, true, ss)) {
      std::fprintf(stderr, "bench: a 12 s run or a show failed\n");
      return 1;
    }
    double startMs = 0;
    long peakKib = 0;
    if (!measureDecoder(photos + "/b1.jpg", startMs, peakKib)) {
      std::fprintf(stderr, "bench: a decoder's start failed\n");
      return 1;
    }
    decoderStart.push_back(startMs);
    decoderPeak.push_back(double(peakKib));
    shows.push_back(sc);
    stills.push_back(ss);
    std::fprintf(stderr,
                 "run %d, show: %.0f / %.0f fps, longest frame %.1f / %.1f "
                 "ms, %ld -> %ld KiB, %d changes, waits %.0f / %.0f ms\n",
                 i + 1, sc.fps, ss.fps, sc.longest_ms, ss.longest_ms, sc.rss10,
                 sc.rss60, sc.changes, sc.wait_median_ms, sc.wait_longest_ms);
    lvStart.push_back(lv.startup_ms);
    lpStart.push_back(lp.startup_ms);
    lvFps.push_back(lv.fps);
    lpFps.push_back(lp.fps);
    lvRss.push_back(double(lv.rss_kib));
    lpRss.push_back(double(lp.rss_kib));
    std::fprintf(stderr,
                 "run %d, 12 s with six 12 MP photos: first frame %.0f / "
                 "plain %.0f ms, %.0f / %.0f fps, %ld / %ld KiB\n",
                 i + 1, lv.startup_ms, lp.startup_ms, lv.fps, lp.fps,
                 lv.rss_kib, lp.rss_kib);
    Run v, f, q, a, b, a1, b1, p, t, h1, h2, e1, e2, u, s, l, c, d, g, e, lb,
        sl;
    if (!measure(viewer, PICTURES_DIR, 2.0, v) ||
        !measure(floor, PICTURES_DIR, 2.0, f) ||
        !measure(floorQuad, PICTURES_DIR, 0, q) ||
        !measure(viewer, photos, 0, a) || !measure(floorSoil, photos, 0, b) ||
        !measureOnOneCore(viewer, photos, a1) ||
        !measureOnOneCore(floorSoil, photos, b1) ||
        !measure(viewer, progressive, 0, p) || !measure(viewer, p3, 0, t) ||
        !measure(viewer, huge, 0, h1) || !measure(floorSoil, huge, 0, h2) ||
        !measure(viewer, everywhere, 0, e1) || !measure(viewer, alone, 0, e2) ||
        !measure(viewer, pngBomb, 0, g) || !measure(viewer, upright, 0, u) ||
        !measure(viewer, sideways, 0, s) ||
        !measure(launcher, PICTURES_DIR, 0, l, {camera}) ||
        !measure(launcher, PICTURES_DIR, 0, lb, {"--from-start", library}) ||
        !measure(launcher, PICTURES_DIR, 0, sl,
                 {"--from-start", slowLibrary}) ||
        !measure(viewer, cutShort, 0, c) || !measure(viewer, widePsd, 0, d) ||
        !measure(viewer, broken, 0, e)) {
      std::fprintf(stderr, "bench: a run failed\n");
      return 1;
    }
    vFps.push_back(v.fps);
    fFps.push_back(f.fps);
    vStart.push_back(v.startup_ms);
    fStart.push_back(f.startup_ms);
    qStart.push_back(q.startup_ms);
    pv.push_back(a.startup_ms);
    pf.push_back(b.startup_ms);
    pv1.push_back(a1.startup_ms);
    pf1.push_back(b1.startup_ms);
    pp.push_back(p.startup_ms);
    pc.push_back(t.startup_ms);
    hv.push_back(h1.startup_ms);
    hf.push_back(h2.startup_ms);
    ev.push_back(e1.startup_ms);
    av.push_back(e2.startup_ms);
    png.push_back(g.startup_ms);
    o1.push_back(u.startup_ms);
    o6.push_back(s.startup_ms);
    cam.push_back(l.startup_ms);
    lib.push_back(lb.startup_ms);
    slowLib.push_back(sl.startup_ms);
    cut.push_back(c.startup_ms);
    psd.push_back(d.startup_ms);
    bad.push_back(e.startup_ms);
    std::fprintf(stderr,
                 "run %d: bundled %.0f fps %.1f ms, floor %.0f fps %.1f ms; "
                 "photos %.0f / SOIL floor %.0f ms, one core %.0f / %.0f ms; "
                 "progressive %.0f ms, Display P3 %.0f ms, "
                 "102 MP %.0f / SOIL floor %.0f ms, 24 MP on six faces / "
                 "one %.0f / %.0f ms, PNG bomb %.0f ms, "
                 "orientation 1 / 6 %.0f / %.0f ms; "
                 "20,000 pictures %.0f ms; "
                 "cut-short JPEG %.0f ms, wide PSD %.0f ms, corpus %.0f ms\n",
                 i + 1, v.fps, v.startup_ms, f.fps, f.startup_ms, a.startup_ms,
                 b.startup_ms, a1.startup_ms, b1.startup_ms, p.startup_ms,
                 t.startup_ms, h1.startup_ms, h2.startup_ms, e1.startup_ms,
                 e2.startup_ms, g.startup_ms, u.startup_ms, s.startup_ms,
                 l.startup_ms, c.startup_ms, d.startup_ms, e.startup_ms);
  }
  // The first frame is the same from run to run: measured once.
  Sharpness sBundled = sharpness(viewer, PICTURES_DIR),
            sPhotos = sharpness(viewer, photos),
            sPages = sharpness(viewer, pages);
  for (const std::string &dir :
       {photos, progressive, p3, huge, alone, everywhere, upright, sideways,
        camera, cutShort, widePsd, pngBomb, broken, pages, trip})
    remove_tree(dir);

  long launcherKib = 0, libraryViewerKib = 0;
  if (!libraryMemory(launcher, library, launcherKib, libraryViewerKib))
    return 1;
  run_command("umount " + slowLibrary);
  kill(slowFs, SIGTERM);
  waitpid(slowFs, nullptr, 0);
  for (const std::string &dir : {library, smallLibrary, slowLibrary})
    remove_tree(dir);

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

  double vf = median(vFps), ff = median(fFps), vs = median(vStart),
         fs = median(fStart), qs = median(qStart), bundled = vs;
  // The median run of the show, by its frame rate against the still cube's.
  std::vector<size_t> byRatio(shows.size());
  for (size_t i = 0; i < byRatio.size(); i++)
    byRatio[i] = i;
  std::sort(byRatio.begin(), byRatio.end(), [&](size_t a, size_t b) {
    return shows[a].fps / stills[a].fps < shows[b].fps / stills[b].fps;
  });
  size_t mid = byRatio[byRatio.size() / 2];
  const ShowRun &changing = shows[mid], &still = stills[mid];
  double longest = 0, stillLongest = 0;
  for (size_t i = 0; i < shows.size(); i++) {
    longest = std::max(longest, shows[i].longest_ms);
    stillLongest = std::max(stillLongest, stills[i].longest_ms);
  }
  char table[14000];
  std::snprintf(
      table, sizeof table,
      "| measure (median of %d interleaved runs) | viewer | floor | viewer / "
      "floor |\n"
      "|---|---:|---:|---:|\n"
      "| frames per second, bundled pictures | %.0f | %.0f | %.2f |\n"
      "| exec to first frame shown, bundled pictures | %.1f ms | %.1f ms | "
      "+%.1f ms |\n"
      "| exec to first frame shown, floor drawing one textured quad | | "
      "%.1f ms | +%.1f ms |\n"
      "| six 12-megapixel JPEGs, against SOIL loading them one after the "
      "other | %.0f ms | %.0f ms | %.2f |\n"
      "| the same on one core (`taskset -c 0`) | %.0f ms | %.0f ms | %.2f |\n"
      "| the same six as progressive JPEGs, against the six baseline ones | "
      "%.0f ms | %.0f ms | %.2f |\n"
      "| the same six tagged Display P3 (converted to the screen's sRGB), "
      "against the six untagged | %.0f ms | %.0f ms | %.2f |\n"
      "| b1.jpg a 102-megapixel photo (11648 x 8736), against SOIL loading "
      "it | %.0f ms | %.0f ms | %.2f |\n"
      "| one 24-megapixel photo on all six faces, against it on one face "
      "beside the bundled pictures | %.0f ms | %.0f ms | %.2f |\n"
      "| b1.jpg the first of them with EXIF Orientation 6, against "
      "Orientation 1 | %.0f ms | %.0f ms | %.2f |\n"
      "| `vorlix-open` on a folder of 20,000 pictures, its first six the "
      "bundled ones | %.1f ms | | %+.1f ms over bundled |\n"
      "| b1.jpg a JPEG cut short after 4 bytes | %.1f ms | | %+.1f ms over "
      "bundled |\n"
      "| b1.jpg a 200-byte PSD declaring 4,000,000 x 30 pixels | %.1f ms | | "
      "%+.1f ms over bundled |\n"
      "| b1.jpg a 200-byte PNG declaring 60,000 x 60,000 pixels | %.1f ms | | "
      "%+.1f ms over bundled |\n"
      "| b1-b4 four files of tests/data/bad-pictures that crash or hang SOIL "
      "| %.1f ms | | "
      "%+.1f ms over bundled |\n"
      "| resident memory after 1 s / 20 s / 40 s, peak | %ld / %ld / %ld KiB, "
      "%ld KiB | | %+ld KiB from 1 to 20 s, %+ld KiB from 20 to 40 s |\n"
      "| six 12-megapixel JPEGs for 12 s, against the plain SOIL program: "
      "exec to first frame | %.0f ms | %.0f ms | %.2f |\n"
      "| the same: frames per second from 2 to 12 s | %.0f | %.0f | %.2f |\n"
      "| the same: resident memory at 12 s | %.0f KiB | %.0f KiB | %.2f |\n"
      "| first frame against its area average (mean error over the faces' "
      "inner pixels, share off by more than 24 levels): bundled pictures | "
      "%.1f levels, %.1f %% | | |\n"
      "| the same: six detailed 12-megapixel photos | %.1f levels, %.1f %% | "
      "| |\n"
      "| the same: six 12-megapixel pages of one-pixel lines | %.1f levels, "
      "%.1f %% | | |\n"
      "| a show of 100 12-megapixel photos, 1 s each, for 60 s, against the "
      "same cube not changing (`--first-six`), the median run: frames per "
      "second | %.0f | %.0f | %.2f |\n"
      "| the same: longest frame after the first, of all runs | %.1f ms | "
      "%.1f ms | |\n"
      "| the same: resident memory at 10 s / 60 s | %ld / %ld KiB | | "
      "%+.1f %% |\n"
      "| the same: from a face turning away to its next picture (%d "
      "changes), median / longest | %.0f / %.0f ms | | |\n"
      "| a decoder's start: from starting `vorlix-decode` to its answer on a "
      "2 x 2 picture (median of 31) | %.2f ms | | |\n"
      "| a decoder's resident memory at its peak, on one 12-megapixel JPEG "
      "| %.0f KiB | | |\n"
      "| `vorlix-open` on a library of 100,000 pictures in 5,000 folders, its "
      "first six the bundled ones | %.1f ms | | %+.1f ms over bundled |\n"
      "| the same on a library of 4,000 pictures in 200 folders whose every "
      "listing takes 50 ms (all of them: 10 s) | %.1f ms | | %+.1f ms over "
      "bundled |\n"
      "| resident memory with the 100,000 pictures listed: launcher / viewer "
      "| %ld / %ld KiB | | |\n",
      runs, vf, ff, vf / ff, vs, fs, vs - fs, qs, qs - fs, median(pv),
      median(pf), median(pv) / median(pf), median(pv1), median(pf1),
      median(pv1) / median(pf1), median(pp), median(pv),
      median(pp) / median(pv), median(pc), median(pv), median(pc) / median(pv),
      median(hv), median(hf), median(hv) / median(hf), median(ev), median(av),
      median(ev) / median(av), median(o6), median(o1), median(o6) / median(o1),
      median(cam), median(cam) - bundled, median(cut), median(cut) - bundled,
      median(psd), median(psd) - bundled, median(png), median(png) - bundled,
      median(bad), median(bad) - bundled, rss1, rss20, rss40, peak,
      rss20 - rss1, rss40 - rss20, median(lvStart), median(lpStart),
      median(lvStart) / median(lpStart), median(lvFps), median(lpFps),
      median(lvFps) / median(lpFps), median(lvRss), median(lpRss),
      median(lvRss) / median(lpRss), sBundled.meanError, sBundled.offShare,
      sPhotos.meanError, sPhotos.offShare, sPages.meanError, sPages.offShare,
      changing.fps, still.fps, changing.fps / still.fps, longest, stillLongest,
      changing.rss10, changing.rss60,
      100.0 * double(changing.rss60 - changing.rss10) / double(changing.rss10),
      changing.changes, changing.wait_median_ms, changing.wait_longest_ms,
      median(decoderStart), median(decoderPeak), median(lib),
      median(lib) - bundled, median(slowLib), median(slowLib) - bundled,
      launcherKib, libraryViewerKib);
  std::string rows = DrawingAndRawRows(viewer, runs);
  if (rows.empty()) {
    std::fprintf(stderr, "bench: a drawing or RAW run failed\n");
    return 1;
  }
  std::string animated = AnimationRows(viewer, runs);
  if (animated.empty()) {
    std::fprintf(stderr, "bench: an animation run failed\n");
    return 1;
  }
  std::string hdr = HdrRows(viewer, runs);
  if (hdr.empty()) {
    std::fprintf(stderr, "bench: an HDR run failed\n");
    return 1;
  }
  std::string clips = ClipRows(viewer, runs);
  if (clips.empty()) {
    std::fprintf(stderr, "bench: a clip run failed\n");
    return 1;
  }
  std::string all = table + rows + hdr + animated + clips;
  std::fputs(all.c_str(), stdout);
  if (markdown) {
    if (FILE *f = std::fopen(markdown, "w")) {
      std::fputs(all.c_str(), f);
      std::fclose(f);
    }
  }
  return 0;
}

// Animated pictures on the front face, in a real GL context (Mesa under X),
// decoded by the real decoder program: which frames show, in which order,
// for how long by the clock, how often the animation goes round, how frames
// are composited, and what broken animations do.
#include <GL/glut.h>
#include <array>
#include <chrono>
#include <csignal>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "picture/viewer/animations/animations.h"
#include "pixel_probe.h"
#include "scene.h"
#include "test_animations.h"
#include "test_pictures.h"
#include "viewer_process.h"

void reshape(int width, int height);

namespace {

// The front face head-on: its centre, and the centres of its quarters.
constexpr int cx = 240, cy = 180, q = 39;

struct Seen {
  long long ms; // since watching began
  Rgb centre;
  Quadrants quarters;
  // With the cube tilted 40 degrees: the middles of the front and the top.
  Rgb front, top;
};
Seen lastSeen;

Rgb pixelAt(int x, int y) {
  unsigned char p[4] = {};
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
  return {p[0], p[1], p[2]};
}

} // namespace

// Reads what each frame shows before it is shown.
extern "C" void glutSwapBuffers() {
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  lastSeen.centre = pixelAt(cx, cy);
  lastSeen.quarters = {pixelAt(cx - q, cy + q), pixelAt(cx + q, cy + q),
                       pixelAt(cx - q, cy - q), pixelAt(cx + q, cy - q)};
  lastSeen.front = pixelAt(kFrontX, kFrontY);
  lastSeen.top = pixelAt(kTopX, kTopY);
  using Swap = void (*)();
  static Swap real =
      reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
  real();
}

namespace {

long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch())
      .count();
}

bool near(Rgb a, Rgb b, int tolerance = 12) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
         std::abs(a.b - b.b) <= tolerance;
}

std::string name(Rgb c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," +
         std::to_string(c.b) + ")";
}

class AnimationTest : public ::testing::Test {
protected:
  void SetUp() override {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(480, 360);
    window = glutCreateWindow("Vorlix animation test");
    dir = make_temp_dir();
    ASSERT_EQ(0, chdir(dir.c_str()));
  }
  void TearDown() override {
    StopAllAnimations();
    glutDestroyWindow(window);
    remove_tree(dir);
  }
  // Loads the pictures (unless told to go on), then draws the front face
  // head-on (or tilted `tilt` degrees, turned `turn` degrees about y) for
  // `seconds`, recording what each frame shows.
  std::vector<Seen> watch(double seconds, bool load = true, float tilt = 0,
                          float turn = 0, int frameMs = 0) {
    if (load) {
      init();
      reshape(480, 360);
    }
    std::vector<Seen> seen;
    long long start = nowMs();
    while (nowMs() - start < seconds * 1000) {
      xRot = tilt;
      yRot = turn - 0.5f;
      zRot = 0.0f;
      display();
      lastSeen.ms = nowMs() - start;
      seen.push_back(lastSeen);
      if (frameMs > 0)
        usleep(useconds_t(frameMs) * 1000);
    }
    return seen;
  }
  int window = 0;
  std::string dir;
};

// A run of frames showing one colour at the face's centre.
struct ColourRun {
  Rgb colour;
  long long from, to;
};

std::vector<ColourRun> runsOf(const std::vector<Seen> &seen) {
  std::vector<ColourRun> runs;
  for (const Seen &s : seen)
    if (!runs.empty() && near(runs.back().colour, s.centre, 2))
      runs.back().to = s.ms;
    else
      runs.push_back({s.centre, s.ms, s.ms});
  return runs;
}

std::string describe(const std::vector<ColourRun> &runs) {
  std::string out;
  for (const ColourRun &r : runs)
    out += name(r.colour) + " " + std::to_string(r.to - r.from) + " ms\n";
  return out;
}

const Rgb kRed = {255, 0, 0}, kGreen = {0, 255, 0}, kBlue = {0, 0, 255},
          kGrey = {128, 128, 128};

struct Flat {
  Rgb colour;
  int delayMs;
};
const std::vector<Flat> kThree = {{kRed, 300}, {kGreen, 150}, {kBlue, 450}};
const std::vector<Flat> kThreeAtOnce = {{kRed, 0}, {kGreen, 0}, {kBlue, 0}};

std::string colourArg(Rgb c) {
  return "xc:'rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," +
         std::to_string(c.b) + ")'";
}

// Each frame as a PNG of its own, for the tools that take frames: their
// names.
std::string framePngs(const std::vector<Flat> &frames, const char *before) {
  std::string args;
  for (size_t i = 0; i < frames.size(); i++) {
    std::string png = "f" + std::to_string(i) + ".png";
    convert("-size 64x64 " + colourArg(frames[i].colour) + " " + png);
    args += std::string(" ") + before + std::to_string(frames[i].delayMs) +
            " " + png;
  }
  return args;
}

// Writers: b1.jpg as an animation of these frames, played `plays` times (0:
// for ever), as each format says it.
void gif(const std::vector<Flat> &frames, int plays) {
  std::string args;
  for (const Flat &f : frames)
    args += " -delay " + std::to_string(f.delayMs / 10) + " -size 64x64 " +
            colourArg(f.colour);
  // ImageMagick's -loop counts plays; it writes the repeats after the
  // first, as GIF counts them.
  convert(args + " -loop " + std::to_string(plays) + " gif:b1.jpg");
}
std::vector<ApngTestFrame> apngFrames(const std::vector<Flat> &frames) {
  std::vector<ApngTestFrame> out;
  for (const Flat &f : frames) {
    ApngTestFrame a = {{f.colour.r, f.colour.g, f.colour.b, 255}};
    a.delayMs = f.delayMs;
    out.push_back(a);
  }
  return out;
}
void apng(const std::vector<Flat> &frames, int plays) {
  ApngTestOptions o;
  o.plays = plays;
  write_bytes("b1.jpg", apng_bytes(64, 64, apngFrames(frames), o));
}
void apngBesideItsDefault(const std::vector<Flat> &frames, int plays) {
  ApngTestOptions o;
  o.plays = plays;
  o.separateDefault = true;
  write_bytes("b1.jpg", apng_bytes(64, 64, apngFrames(frames), o));
}
void webp(const std::vector<Flat> &frames, int plays) {
  run_command("img2webp -loop " + std::to_string(plays) + " -lossless" +
              framePngs(frames, "-d ") + " -o b1.jpg 2>&1");
}
void avif(const std::vector<Flat> &frames, int) {
  run_command("avifenc -s 10 --lossless --timescale 1000" +
              framePngs(frames, "--duration ") + " b1.avif >/dev/null 2>&1" +
              " && mv b1.avif b1.jpg");
}
void jxl(const std::vector<Flat> &frames, int plays) {
  apng(frames, plays);
  run_command("mv b1.jpg f.png && cjxl -d 0 f.png b1.jpg >/dev/null 2>&1");
}

// Clips: b1.jpg a clip of these frames at 20 frames a second (each delay a
// whole number of frames), made by ffmpeg with `codec` (lossless where it
// can be) into `container`; a clip loops for ever.
void clip(const std::vector<Flat> &frames, const std::string &codec,
          const std::string &container, int rate = 20) {
  std::string inputs, joined;
  for (size_t i = 0; i < frames.size(); i++) {
    char colour[8];
    std::snprintf(colour, sizeof colour, "%02x%02x%02x", frames[i].colour.r,
                  frames[i].colour.g, frames[i].colour.b);
    inputs += std::string(" -f lavfi -i color=c=0x") + colour +
              ":s=64x64:r=" + std::to_string(rate) +
              ":d=" + std::to_string(frames[i].delayMs / 1000.0);
    joined += "[" + std::to_string(i) + "]";
  }
  run_command("ffmpeg -v error -y" + inputs + " -filter_complex '" + joined +
              "concat=n=" + std::to_string(frames.size()) +
              ":v=1:a=0,format=yuv420p' -c:v " + codec + " b1." + container +
              " && mv b1." + container + " b1.jpg");
}
void h264(const std::vector<Flat> &f, int) {
  clip(f, "libx264 -qp 0", "mp4");
}
// 60 frames a second, as phones film.
void h264At60(const std::vector<Flat> &f, int) {
  clip(f, "libx264 -qp 0", "mp4", 60);
}
void hevc(const std::vector<Flat> &f, int) {
  clip(f, "libx265 -x265-params lossless=1:log-level=error", "mov");
}
void vp9(const std::vector<Flat> &f, int) {
  clip(f, "libvpx-vp9 -lossless 1", "webm");
}
void av1(const std::vector<Flat> &f, int) {
  clip(f, "libaom-av1 -cpu-used 8 -crf 0", "mkv");
}
void mjpeg(const std::vector<Flat> &f, int) {
  clip(f, "mjpeg -q:v 1", "avi");
}
void mpegTs(const std::vector<Flat> &f, int) {
  clip(f, "libx264 -qp 0", "ts");
}
// Timestamps broken from the second colour on (a muxer's fault, a cut
// file): two hours ahead in Matroska's milliseconds, or five seconds back in
// MPEG-TS's 90 kHz (which its muxer mends into steps of one tick); and two
// camera files joined, the second's timestamps starting again. The frames
// keep their pace.
void remuxed(const std::vector<Flat> &f, const std::string &timestamps,
             const std::string &format) {
  clip(f, "libx264 -qp 0", "mkv");
  run_command("mv b1.jpg in.mkv && ffmpeg -v error -y -i in.mkv -c copy "
              "-bsf:v \"setts=ts='if(gte(N," +
              std::to_string(f[0].delayMs / 50) + ")," + timestamps +
              ",TS)'\" -f " + format + " b1.jpg");
}
void jumping(const std::vector<Flat> &f, int) {
  remuxed(f, "TS+7200000", "matroska");
}
void crammed(const std::vector<Flat> &f, int) {
  remuxed(f, "TS-450000", "mpegts");
}
void joined(const std::vector<Flat> &f, int) {
  clip({f[0]}, "libx264 -qp 0", "ts");
  run_command("mv b1.jpg first.ts");
  clip({f.begin() + 1, f.end()}, "libx264 -qp 0", "ts");
  run_command("mv b1.jpg second.ts && cat first.ts second.ts > b1.jpg");
}

// A Motion Photo as a Pixel writes one: a grey JPEG, its XMP saying that
// the clip of these frames (an MP4, H.264) lies at its end, and the clip
// after it.
std::string withXmp(const std::string &jpeg, const std::string &xmp) {
  std::string content =
      std::string("http://ns.adobe.com/xap/1.0/") + '\0' + xmp;
  size_t length = content.size() + 2;
  return jpeg.substr(0, 2) + "\xff\xe1" + char(length >> 8) +
         char(length & 0xff) + content + jpeg.substr(2);
}
void motionPhoto(const std::vector<Flat> &f, int) {
  clip(f, "libx264 -qp 0", "mp4");
  std::string mp4 = read_file("b1.jpg");
  convert("-size 64x64 xc:'rgb(128,128,128)' -quality 95 jpg:b1.jpg");
  std::string xmp =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><rdf:Description "
      "GCamera:MotionPhoto='1'><Container:Directory><rdf:Seq><rdf:li "
      "rdf:parseType='Resource'><Container:Item Item:Mime='image/jpeg' "
      "Item:Semantic='Primary'/></rdf:li><rdf:li "
      "rdf:parseType='Resource'><Container:Item Item:Mime='video/mp4' "
      "Item:Semantic='MotionPhoto' Item:Length='" +
      std::to_string(mp4.size()) +
      "'/></rdf:li></rdf:Seq></Container:Directory></rdf:Description>"
      "</rdf:RDF></x:xmpmeta>";
  write_bytes("b1.jpg", withXmp(read_file("b1.jpg"), xmp) + mp4);
}

// A Live Photo as an iPhone writes one: a grey photo, b1.jpg, and beside it
// the MOV of these frames (H.264), b1.mov.
void livePhoto(const std::vector<Flat> &f, int) {
  clip(f, "libx264 -qp 0", "mov");
  run_command("mv b1.jpg b1.mov");
  convert("-size 64x64 xc:'rgb(128,128,128)' -quality 95 jpg:b1.jpg");
}

struct Timing {
  const char *name;
  void (*write)(const std::vector<Flat> &frames, int plays);
  std::vector<Flat> frames;
  int plays; // 0: for ever; else the file says so
  // What shows before the animation's frames: its first frame, or a still
  // default image of its own.
  Rgb still;
  // Whether, played out, it rests on that still (a Motion Photo on its
  // photo) rather than on its last frame.
  bool restsOnStill = false;
  // Each frame drawn this long at least (0: as fast as the machine draws).
  int frameMs = 0;
};

void PrintTo(const Timing &t, std::ostream *os) {
  *os << t.name;
}

class AnimationTimingTest : public AnimationTest,
                            public ::testing::WithParamInterface<Timing> {};

// The colours come in the file's order, each for its own delay (one of 10
// ms or less for 100 ms), by the clock; the animation goes round as often
// as it says, then rests on its last frame. A colour went up between the
// last frame drawn before it and its first, and down between its last and
// the next colour's first: on a busy machine, whose frames come far apart,
// its time is known only within those bounds.
TEST_P(AnimationTimingTest, FramesShowInOrderEachForItsTime) {
  const Timing &t = GetParam();
  t.write(t.frames, t.plays);
  long long cycle = 0;
  for (const Flat &f : t.frames)
    cycle += f.delayMs <= 10 ? 100 : f.delayMs;
  double seconds = t.plays > 0 ? (t.plays * cycle + 1500) / 1000.0
                               : (2.5 * cycle + 400) / 1000.0;
  std::vector<ColourRun> runs = runsOf(watch(seconds, true, 0, 0, t.frameMs));
  SCOPED_TRACE(describe(runs));
  ASSERT_GE(runs.size(), 4u);
  if (t.restsOnStill) {
    EXPECT_TRUE(near(runs.back().colour, t.still)) << "rests on its photo";
    EXPECT_GE(runs.back().to - runs.back().from, 1000) << "rests on its photo";
    runs.pop_back();
  }
  // A still default image of its own shows first.
  size_t first = near(t.still, t.frames[0].colour) ? 0 : 1;
  EXPECT_TRUE(near(runs[0].colour, t.still)) << "first " << name(t.still);
  size_t n = t.frames.size();
  for (size_t i = first; i < runs.size(); i++) {
    const Flat &f = t.frames[(i - first) % n];
    EXPECT_TRUE(near(runs[i].colour, f.colour))
        << "run " << i << ": expected " << name(f.colour) << ", found "
        << name(runs[i].colour);
    long long shown = f.delayMs <= 10 ? 100 : f.delayMs;
    long long tolerance = std::max(60LL, shown / 5);
    bool whole = i > first && i + 1 < runs.size();
    if (whole) {
      long long least = runs[i].to - runs[i].from,
                most = runs[i + 1].from - runs[i - 1].to;
      EXPECT_TRUE(least - tolerance <= shown && shown <= most + tolerance)
          << "run " << i << " " << name(f.colour) << ": " << shown
          << " ms expected, shown between " << least << " and " << most
          << " ms";
    }
  }
  if (t.plays > 0) {
    EXPECT_EQ(first + t.plays * n, runs.size()) << "played as often as it says";
    if (!t.restsOnStill) {
      EXPECT_GE(runs.back().to - runs.back().from, 1000)
          << "rests on its last frame";
    }
  } else {
    EXPECT_GE(runs.size(), first + 2 * n + 1) << "goes round for ever";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Animations, AnimationTimingTest,
    ::testing::Values(
        Timing{"GifTwice", gif, kThree, 2, kRed},
        Timing{"GifDelaysOfZero", gif, kThreeAtOnce, 0, kRed},
        Timing{"ApngTwice", apng, kThree, 2, kRed},
        Timing{"ApngDefaultImageApart", apngBesideItsDefault, kThree, 1, kGrey},
        Timing{"WebpTwice", webp, kThree, 2, kRed},
        Timing{"AvifSequenceForEver", avif, kThree, 0, kRed},
        // cjxl keeps no play count: for ever.
        Timing{"JxlForEver", jxl, kThree, 0, kRed},
        // Clips keep their timestamps and loop.
        Timing{"H264InMp4", h264, kThree, 0, kRed},
        Timing{"HevcInMov", hevc, kThree, 0, kRed},
        Timing{"Vp9InWebm", vp9, kThree, 0, kRed},
        Timing{"Av1InMatroska", av1, kThree, 0, kRed},
        Timing{"MjpegInAvi", mjpeg, kThree, 0, kRed},
        Timing{"H264InMpegTs", mpegTs, kThree, 0, kRed},
        Timing{"ClipTimestampsJumpingByHours", jumping, kThree, 0, kRed},
        Timing{"ClipTimestampsCrammed", crammed, kThree, 0, kRed},
        Timing{"ClipFilesJoined", joined, kThree, 0, kRed},
        // On a slow machine (20 frames a second drawn) a clip of 60 keeps
        // its time: it drops what is late rather than play slowly.
        Timing{"Clip60OnASlowMachine", h264At60, kThree, 0, kRed, false, 50},
        Timing{"MotionPhotoOnceThenItsPhoto", motionPhoto, kThree, 1, kGrey,
               true},
        Timing{"LivePhotoOnceThenItsPhoto", livePhoto, kThree, 1, kGrey, true}),
    [](const ::testing::TestParamInfo<Timing> &info) {
      return std::string(info.param.name);
    });

// Frames that only work out composited as their format says: the second
// drawn only in its quarter and put back afterwards ("previous"), the third
// cleared afterwards ("background", to transparent: white), the fourth
// drawn over what is left, and the last transparent but for its quarter
// (GIF) or half transparent over what is beneath (APNG's blending).
struct Composited {
  const char *name;
  void (*write)();
  std::vector<Quadrants> shows; // top left, top right, bottom left, right
};

void PrintTo(const Composited &c, std::ostream *os) {
  *os << c.name;
}

const Rgb kLime = {0, 255, 0}, kYellow = {255, 255, 0},
          kMagenta = {255, 0, 255}, kWhite = {255, 255, 255},
          kHalfMagentaOverLime = {128, 128, 128};

void gifDisposals() {
  convert("-delay 30 -dispose none -size 64x64 xc:lime"
          " -dispose previous \\( -size 32x32 xc:blue -repage 64x64+0+0 \\)"
          " -dispose background \\( -size 32x32 xc:red -repage 64x64+32+32 "
          "\\)"
          " -dispose none \\( -size 32x32 xc:yellow -repage 64x64+32+0 \\)"
          " \\( -size 64x64 xc:none -fill magenta"
          " -draw 'rectangle 0,32 31,63' \\) -loop 1 gif:b1.jpg");
}

void apngDisposals() {
  auto frame = [](std::array<unsigned char, 4> c, int x, int y, int size,
                  int dispose, int blend) {
    ApngTestFrame f = {{c[0], c[1], c[2], c[3]}, x, y, size, size};
    f.delayMs = 300;
    f.dispose = dispose;
    f.blend = blend;
    return f;
  };
  ApngTestOptions o;
  o.plays = 1;
  write_bytes("b1.jpg", apng_bytes(64, 64,
                                   {frame({0, 255, 0, 255}, 0, 0, 64, 0, 0),
                                    frame({0, 0, 255, 255}, 0, 0, 32, 2, 0),
                                    frame({255, 0, 0, 255}, 32, 32, 32, 1, 0),
                                    frame({255, 255, 0, 255}, 32, 0, 32, 0, 0),
                                    frame({255, 0, 255, 128}, 0, 32, 32, 0, 1)},
                                   o));
}

class CompositedTest : public AnimationTest,
                       public ::testing::WithParamInterface<Composited> {};

TEST_P(CompositedTest, EachFrameShowsWhatItsFormatMakesOfIt) {
  GetParam().write();
  std::vector<Seen> seen = watch(2.5);
  std::vector<Quadrants> shown;
  auto same = [](const Quadrants &a, const Quadrants &b) {
    return near(a.topLeft, b.topLeft) && near(a.topRight, b.topRight) &&
           near(a.bottomLeft, b.bottomLeft) &&
           near(a.bottomRight, b.bottomRight);
  };
  for (const Seen &s : seen)
    if (shown.empty() || !same(shown.back(), s.quarters))
      shown.push_back(s.quarters);
  std::string found;
  for (const Quadrants &q : shown)
    found += name(q.topLeft) + name(q.topRight) + name(q.bottomLeft) +
             name(q.bottomRight) + "\n";
  SCOPED_TRACE(found);
  const std::vector<Quadrants> &expected = GetParam().shows;
  ASSERT_EQ(expected.size(), shown.size());
  for (size_t i = 0; i < expected.size(); i++)
    EXPECT_TRUE(same(expected[i], shown[i])) << "frame " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(
    Animations, CompositedTest,
    ::testing::Values(Composited{"GifDisposals",
                                 gifDisposals,
                                 {{kLime, kLime, kLime, kLime},
                                  {kBlue, kLime, kLime, kLime},
                                  {kLime, kLime, kLime, kRed},
                                  {kLime, kYellow, kLime, kWhite},
                                  {kLime, kYellow, kMagenta, kWhite}}},
                      Composited{
                          "ApngDisposalsAndBlending",
                          apngDisposals,
                          {{kLime, kLime, kLime, kLime},
                           {kBlue, kLime, kLime, kLime},
                           {kLime, kLime, kLime, kRed},
                           {kLime, kYellow, kLime, kWhite},
                           {kLime, kYellow, kHalfMagentaOverLime, kWhite}}}),
    [](const ::testing::TestParamInfo<Composited> &info) {
      return std::string(info.param.name);
    });

// One picture on two faces (a link to it) plays once, in step: one
// decoder, the same frame on both faces in every frame drawn.
TEST_F(AnimationTest, OnePictureOnTwoFacesPlaysOnceInStep) {
  gif(kThreeAtOnce, 0);
  ASSERT_EQ(0, symlink("b1.jpg", "b3.jpg")); // the top face
  std::vector<Seen> seen = watch(1.5, true, 40);
  EXPECT_EQ(1, AnimationsPlaying());
  int changes = 0;
  for (size_t i = 0; i < seen.size(); i++) {
    ASSERT_TRUE(near(seen[i].front, seen[i].top, 40))
        << "at " << seen[i].ms << " ms: front " << name(seen[i].front)
        << ", top " << name(seen[i].top);
    changes += i > 0 && !near(seen[i].front, seen[i - 1].front, 40);
  }
  EXPECT_GE(changes, 8) << "it plays";
}

// A Motion Photo plays its clip again each time it comes back into view
// after its face was turned away, and rests on its photo between.
TEST_F(AnimationTest, MotionPhotoPlaysAgainWhenItComesBack) {
  motionPhoto({{kRed, 300}, {kBlue, 300}}, 1);
  std::vector<ColourRun> first = runsOf(watch(1.5));
  watch(0.3, false, 0, 180); // the front face turned away
  std::vector<ColourRun> again = runsOf(watch(1.5, false));
  for (const auto &runs : {first, again}) {
    SCOPED_TRACE(describe(runs));
    ASSERT_EQ(4u, runs.size()) << "photo, red, blue, photo";
    EXPECT_TRUE(near(runs[1].colour, kRed));
    EXPECT_TRUE(near(runs[2].colour, kBlue));
    EXPECT_TRUE(near(runs[3].colour, kGrey));
  }
}

// An animation whose face is turned away stands still, its clock stopped,
// and goes on where it was as the face comes round (were its clock
// running, 1.5 s of 300 ms frames later it would show the frame after next).
TEST_F(AnimationTest, TurnedAwayItStandsStill) {
  gif({{kRed, 300}, {kGreen, 300}, {kBlue, 300}}, 0);
  std::vector<Seen> before = watch(0.8);
  watch(1.5, false, 0, 180); // the front face turned away
  std::vector<Seen> after = watch(0.1, false);
  EXPECT_TRUE(near(before.back().centre, after.front().centre))
      << "turned away showing " << name(before.back().centre)
      << ", back showing " << name(after.front().centre);
  std::vector<ColourRun> runs = runsOf(watch(1.0, false));
  EXPECT_GE(runs.size(), 3u) << "it plays on";
}

// Broken and hostile animations: whatever plays of them plays, and never a
// crash, a hang, or a decoder growing past a small bound; a decoder killed
// mid-animation leaves the face on its last frame. An APNG that breaks its
// format's rules shows its default image, still; one at their edge plays.
struct Broken {
  const char *name;
  void (*write)();
  std::vector<Rgb> mayShow; // the face's centre shows only these
  Rgb mustShow;             // and this at some time: it plays
  bool killDecoder = false;
};

void PrintTo(const Broken &b, std::ostream *os) {
  *os << b.name;
}

GifTestFrame gifFrame(int colour, int x, int y, int size, int delayCs) {
  GifTestFrame f;
  f.colour = colour;
  f.x = x;
  f.y = y;
  f.width = f.height = size;
  f.delayCs = delayCs;
  return f;
}

void gifOf100000Frames() {
  std::vector<GifTestFrame> frames;
  for (int i = 0; i < 100000; i++)
    frames.push_back(gifFrame(i % 2, 0, 0, 4, 0));
  write_bytes("b1.jpg", gif_bytes(4, 4, frames));
}
void gifFramesLargerAndOutside() {
  write_bytes("b1.jpg",
              gif_bytes(64, 64,
                        {gifFrame(0, 0, 0, 64, 20), gifFrame(1, 0, 0, 200, 20),
                         gifFrame(2, 100, 100, 32, 20)}));
}
void gifCutShort() {
  std::string whole =
      gif_bytes(64, 64,
                {gifFrame(0, 0, 0, 64, 20), gifFrame(1, 0, 0, 64, 20),
                 gifFrame(2, 0, 0, 64, 20)});
  write_bytes("b1.jpg", whole.substr(0, whole.size() - 300));
}
void gifForEver() {
  write_bytes("b1.jpg",
              gif_bytes(64, 64,
                        {gifFrame(0, 0, 0, 64, 20), gifFrame(1, 0, 0, 64, 20),
                         gifFrame(2, 0, 0, 64, 20)}));
}
void apngBroken(ApngTestOptions o) {
  std::vector<ApngTestFrame> frames =
      apngFrames({{kRed, 200}, {kGreen, 200}, {kBlue, 200}});
  if (o.cutAt == 1) // cut inside the last frame's data
    o.cutAt = apng_bytes(64, 64, frames).size() - 12 - 10;
  write_bytes("b1.jpg", apng_bytes(64, 64, frames, o));
}
void apngOutOfSequence() {
  ApngTestOptions o;
  o.swapSequence = 2;
  apngBroken(o);
}
void apngFrameWithoutData() {
  ApngTestOptions o;
  o.dropFrameData = 1;
  apngBroken(o);
}
void apngCutShort() {
  ApngTestOptions o;
  o.cutAt = 1;
  apngBroken(o);
}
// Files that break APNG's rules, their default image (grey) apart from
// frames of red, green and blue: the format asks for the default image, as
// a still.
void apngApartBroken(ApngTestOptions o) {
  o.separateDefault = true;
  apngBroken(o);
}
void apngSequenceWithAGap() {
  ApngTestOptions o;
  o.gapBefore = 1;
  apngApartBroken(o);
}
void apngFramesReordered() {
  ApngTestOptions o;
  o.swapWithNext = 1;
  apngApartBroken(o);
}
void apngSequenceNumberRepeated() {
  ApngTestOptions o;
  o.repeatSequence = 2;
  apngApartBroken(o);
}
void apngMoreFramesAnnounced() {
  ApngTestOptions o;
  o.announced = 4;
  apngApartBroken(o);
}
void apngFewerFramesAnnounced() {
  ApngTestOptions o;
  o.announced = 2;
  apngApartBroken(o);
}
// At the edge of the rules: one frame of its own beside the default image
// is what shows; frames' data in several fdATs, one of them empty, play.
void apngOneFrameApartInPieces() {
  ApngTestOptions o;
  o.separateDefault = true;
  o.splitData = true;
  write_bytes("b1.jpg", apng_bytes(64, 64, apngFrames({{kRed, 200}}), o));
}
void apngFramesInPieces() {
  ApngTestOptions o;
  o.splitData = true;
  apngBroken(o);
}

// The processes this one started that are still there: its decoders.
std::vector<pid_t> decoders() {
  std::vector<pid_t> pids;
  std::string all =
      run_command("cat /proc/" + std::to_string(getpid()) + "/task/*/children");
  size_t at = 0;
  while (at < all.size()) {
    size_t end = all.find(' ', at);
    pid_t pid = pid_t(std::atol(all.substr(at, end - at).c_str()));
    std::string exe = read_file("/proc/" + std::to_string(pid) + "/cmdline");
    if (pid > 0 && exe.rfind("vorlix-decode", 0) == 0)
      pids.push_back(pid);
    at = end == std::string::npos ? all.size() : end + 1;
  }
  return pids;
}

long peakKib(pid_t pid) {
  std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::atol(status.c_str() + at + 6);
}

class BrokenTest : public AnimationTest,
                   public ::testing::WithParamInterface<Broken> {};

TEST_P(BrokenTest, WhatArrivedPlaysAndNothingWorse) {
  const Broken &b = GetParam();
  b.write();
  std::vector<Seen> seen = watch(1.2);
  for (pid_t pid : decoders()) {
    EXPECT_LT(peakKib(pid), 160 * 1024) << "decoder " << pid;
    if (b.killDecoder)
      kill(pid, SIGKILL);
  }
  if (b.killDecoder) {
    // A frame already handed over may still go up; then the face rests.
    std::vector<Seen> after = watch(1.0, false);
    EXPECT_EQ(0, AnimationsPlaying());
    for (const Seen &s : after)
      EXPECT_TRUE(s.ms < 300 || near(s.centre, after.back().centre))
          << "at " << s.ms << " ms the face shows " << name(s.centre)
          << ", at last " << name(after.back().centre);
    seen.insert(seen.end(), after.begin(), after.end());
  }
  bool shown = false;
  for (const Seen &s : seen) {
    bool allowed = false;
    for (Rgb c : b.mayShow)
      allowed = allowed || near(s.centre, c);
    EXPECT_TRUE(allowed) << "at " << s.ms << " ms: " << name(s.centre);
    shown = shown || near(s.centre, b.mustShow);
    if (!allowed)
      break;
  }
  EXPECT_TRUE(shown) << name(b.mustShow) << " never shown";
}

INSTANTIATE_TEST_SUITE_P(
    Animations, BrokenTest,
    ::testing::Values(
        Broken{"GifOf100000Frames", gifOf100000Frames, {kRed, kGreen}, kGreen},
        Broken{"GifFramesLargerThanTheCanvasAndOutside",
               gifFramesLargerAndOutside,
               {kRed, kGreen},
               kGreen},
        Broken{"GifCutShort", gifCutShort, {kRed, kGreen}, kGreen},
        Broken{"ApngOutOfSequence", apngOutOfSequence, {kRed}, kRed},
        Broken{"ApngSequenceWithAGap", apngSequenceWithAGap, {kGrey}, kGrey},
        Broken{"ApngFramesReordered", apngFramesReordered, {kGrey}, kGrey},
        Broken{"ApngSequenceNumberRepeated",
               apngSequenceNumberRepeated,
               {kGrey},
               kGrey},
        Broken{
            "ApngMoreFramesAnnounced", apngMoreFramesAnnounced, {kGrey}, kGrey},
        Broken{"ApngFewerFramesAnnounced",
               apngFewerFramesAnnounced,
               {kGrey},
               kGrey},
        Broken{"ApngOneFrameApartInPieces",
               apngOneFrameApartInPieces,
               {kRed},
               kRed},
        Broken{"ApngFramesInPieces",
               apngFramesInPieces,
               {kRed, kGreen, kBlue},
               kBlue},
        Broken{"ApngFrameWithoutData", apngFrameWithoutData, {kRed}, kRed},
        Broken{"ApngCutShort", apngCutShort, {kRed, kGreen}, kGreen},
        Broken{"DecoderKilledMidAnimation",
               gifForEver,
               {kRed, kGreen, kBlue},
               kGreen,
               true}),
    [](const ::testing::TestParamInfo<Broken> &info) {
      return std::string(info.param.name);
    });

} // namespace

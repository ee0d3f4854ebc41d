// Broken and hostile pictures: whatever b1.jpg holds, the real viewer starts,
// draws, shows that face white and the others with their pictures, and
// prints nothing, its decoders spending no more CPU time than the
// picture's budget; a picture that hangs its decoder in the middle of the
// six costs only its own face.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/viewer/decoders/budget.h"
#include "picture_folder_test.h"
#include "viewer_process.h"

namespace {

// Far below the CPU budget of a large photo (about 10 s for 24 megapixels),
// far above what the viewer needs for small pictures, even in a sanitizer
// build on a busy machine.
constexpr double kFewSeconds = 5;

// The CPU budget of the picture at `path`, in seconds: 0 where it is not
// decoded at all (no regular file, no picture's signature).
double budgetSeconds(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  struct stat st;
  int64_t us = 0;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    int kind = PictureKindOf(ByteSource{fd, nullptr, uint64_t(st.st_size)});
    us = kind < 0 ? 0 : PictureBudgetUs(fd, st.st_size, kind, 16384);
  }
  if (fd >= 0)
    close(fd);
  return double(std::max<int64_t>(us, 0)) / 1e6;
}

// CPU seconds from /proc/PID/stat: the process's own (utime, stime) or its
// ended children's (cutime, cstime).
double cpuSeconds(pid_t pid, bool children) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t at = stat.rfind(')');
  if (at == std::string::npos)
    return 0;
  std::istringstream fields(stat.substr(at + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 17 && fields >> field; i++)
    if (i == (children ? 16 : 14) || i == (children ? 17 : 15))
      ticks += std::atof(field.c_str());
  return ticks / double(sysconf(_SC_CLK_TCK));
}

// What the viewer's decoders spent: those it has reaped, and those still
// there (ended or not; read after the reaped ones, a decoder reaped in
// between is missed rather than counted twice).
double decodersCpuSeconds(ViewerProcess &viewer) {
  double spent = cpuSeconds(viewer.pid(), true);
  for (pid_t decoder : viewer.children())
    spent += cpuSeconds(decoder, false);
  return spent;
}

struct BadPicture {
  std::string name;
  std::function<void(const std::string &path)> make;
  // Whether something of it may show (what a broken clip's frames make of
  // it): then only no crash, no hang and nothing printed.
  bool mayShow = false;
};

// A second of red at 20 frames a second, written by ffmpeg with these
// options (a codec, a container), as the bytes of the file.
std::string redClip(const std::string &options, const std::string &ending) {
  run_command("ffmpeg -v error -y -f lavfi -i color=c=red:s=64x64:r=20:d=1 " +
              options + " bad-clip." + ending);
  std::string clip = read_file("bad-clip." + ending);
  unlink(("bad-clip." + ending).c_str());
  return clip;
}

uint32_t le32At(const std::string &s, size_t at) {
  return uint32_t(uint8_t(s[at])) | uint32_t(uint8_t(s[at + 1])) << 8 |
         uint32_t(uint8_t(s[at + 2])) << 16 |
         uint32_t(uint8_t(s[at + 3])) << 24;
}

// Broken clips, as downloads, cameras and hostile files leave them.
std::vector<BadPicture> badClips() {
  return {
      // Its index (moov, at the end) never arrived: frames without it.
      {"Mp4IndexLost",
       [](const std::string &p) {
         std::string mp4 = redClip("-c:v libx264 -qp 0", "mp4");
         write_bytes(p, mp4.substr(0, mp4.find("moov") - 4));
       }},
      // Its index first, its frames' data cut off.
      {"Mp4FramesCutOff",
       [](const std::string &p) {
         std::string mp4 =
             redClip("-c:v libx264 -qp 0 -movflags +faststart", "mp4");
         write_bytes(p, mp4.substr(0, mp4.find("mdat") + 4));
       }},
      {"Mp4OfACodecUnknown",
       [](const std::string &p) {
         std::string mp4 = redClip("-c:v libx264 -qp 0", "mp4");
         mp4.replace(mp4.find("avc1", mp4.find("stsd")), 4, "xvc1");
         write_bytes(p, mp4);
       }},
      // Each MJPEG frame declaring 65535 x 65535.
      {"AviFramesDeclaring65535Squared",
       [](const std::string &p) {
         std::string avi = redClip("-c:v mjpeg -q:v 1", "avi");
         for (size_t at = avi.find("\xff\xc0"); at != avi.npos;
              at = avi.find("\xff\xc0", at + 2))
           avi.replace(at + 5, 4, "\xff\xff\xff\xff");
         write_bytes(p, avi);
       }},
      // Its index pointing anywhere: FFmpeg reads on without it.
      {"AviWithALyingIndex",
       [](const std::string &p) {
         std::string avi = redClip("-c:v mjpeg -q:v 1", "avi");
         size_t idx = avi.find("idx1");
         for (size_t e = idx + 8; e + 16 <= idx + 8 + le32At(avi, idx + 4);
              e += 16) {
           uint32_t lie =
               uint32_t((le32At(avi, e + 8) * 7ull + 13) % avi.size());
           for (int b = 0; b < 4; b++)
             avi[e + 8 + size_t(b)] = char(lie >> (8 * b));
         }
         write_bytes(p, avi);
       },
       true},
  };
}

const std::string kSvgOpen =
    "<svg xmlns='http://www.w3.org/2000/svg' "
    "xmlns:xlink='http://www.w3.org/1999/xlink' width='64' height='64'>";

// Entities each ten of the one before, nine deep: a billion words of text.
std::string billionLaughs() {
  std::string doc = "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY l0 'lol'>";
  for (int i = 1; i < 10; i++) {
    doc += "<!ENTITY l" + std::to_string(i) + " '";
    for (int j = 0; j < 10; j++)
      doc += "&l" + std::to_string(i - 1) + ";";
    doc += "'>";
  }
  return doc + "]>" + kSvgOpen + "<text fill='#fff'>&l9;</text></svg>";
}

// Groups each using the one before ten times, nine deep: a billion
// rectangles.
std::string useExplosion() {
  std::string svg = kSvgOpen + "<defs><rect id='g0' width='9' height='9' "
                               "fill='#fff'/>";
  for (int i = 1; i < 10; i++) {
    svg += "<g id='g" + std::to_string(i) + "'>";
    for (int j = 0; j < 10; j++)
      svg += "<use xlink:href='#g" + std::to_string(i - 1) + "'/>";
    svg += "</g>";
  }
  return svg + "</defs><use xlink:href='#g9'/></svg>";
}

std::vector<BadPicture> badPictures() {
  std::vector<BadPicture> all = {
      {"Empty", [](const std::string &p) { write_bytes(p, ""); }},
      {"JpegCutAfterFourBytes",
       [](const std::string &p) { write_bytes(p, "\xff\xd8\xff\xe0"); }},
      {"PngCutInHalf",
       [](const std::string &p) {
         convert("-size 64x64 plasma:fractal png:" + p);
         std::string png = read_file(p);
         write_bytes(p, png.substr(0, png.size() / 2));
       }},
      {"TextFile",
       [](const std::string &p) {
         write_bytes(p, "This is not a picture.\n");
       }},
      {"TgaDeclaring65535Squared",
       [](const std::string &p) {
         std::string tga(18, '\0');
         tga[2] = 2;
         tga[12] = tga[13] = tga[14] = tga[15] = '\xff';
         tga[16] = 32;
         write_bytes(p, tga + std::string(4096, '\x7f'));
       }},
      {"PngDeclaringHugeSize",
       [](const std::string &p) {
         convert("-size 16x16 xc:red png:" + p);
         std::string png = read_file(p);
         png.replace(16, 8, "\x00\x01\x00\x00\x00\x01\x00\x00", 8);
         write_bytes(p, png);
       }},
      {"Directory", [](const std::string &p) { mkdir(p.c_str(), 0700); }},
      // Hostile drawings, white wherever they draw: they may cost their
      // decoder its budget, and nothing more.
      {"SvgBillionLaughs",
       [](const std::string &p) { write_bytes(p, billionLaughs()); }},
      {"SvgUseExplosion",
       [](const std::string &p) { write_bytes(p, useExplosion()); }},
      {"SvgNested100000Deep",
       [](const std::string &p) {
         std::string g;
         for (int i = 0; i < 100000; i++)
           g += "<g>";
         for (int i = 0; i < 100000; i++)
           g += "</g>";
         write_bytes(p, kSvgOpen + g + "</svg>");
       }},
      {"SvgFilterOverAHugeArea",
       [](const std::string &p) {
         write_bytes(
             p, kSvgOpen + "<filter id='f' filterUnits='userSpaceOnUse' "
                           "x='-1e6' y='-1e6' width='2e6' height='2e6'>"
                           "<feMorphology radius='400'/><feGaussianBlur "
                           "stdDeviation='1e5'/></filter><rect width='1e9' "
                           "height='1e9' fill='#fff' filter='url(#f)'/></svg>");
       }},
      {"Fifo", [](const std::string &p) { mkfifo(p.c_str(), 0600); }},
  };
  for (BadPicture &clip : badClips())
    all.push_back(std::move(clip));
  // Files that crash, abort or hang a decoder (SOIL, or a library behind
  // GdkPixbuf), found by mutation runs over valid pictures
  // (tests/fuzz/picture_mutate.cpp).
  if (DIR *d = opendir(BAD_PICTURES_DIR)) {
    std::vector<std::string> names;
    while (dirent *e = readdir(d))
      if (e->d_name[0] != '.')
        names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
      std::string test = "Corpus_";
      for (char c : n)
        test += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      std::string src = std::string(BAD_PICTURES_DIR) + "/" + n;
      all.push_back({test, [src](const std::string &p) {
                       write_bytes(p, read_file(src));
                     }});
    }
  }
  return all;
}

void PrintTo(const BadPicture &picture, std::ostream *os) {
  *os << picture.name;
}

class BadPictureTest : public PictureFolderTest,
                       public ::testing::WithParamInterface<BadPicture> {
protected:
  void SetUp() override {
    PictureFolderTest::SetUp();
    unlink((dir + "/b1.jpg").c_str());
  }
};

TEST_P(BadPictureTest, ViewerStartsWithThatFaceWhite) {
  GetParam().make(dir + "/b1.jpg");
  double budget = budgetSeconds(dir + "/b1.jpg");
  ViewerProcess viewer(dir, true);
  // A small file gets a small decoding budget: the first frame comes once
  // its decoder has spent that budget, not after a long flat limit. On a
  // busy machine the CPU time comes slowly: the wall time waited is what
  // the viewer itself allows, and the budget is checked in CPU time.
  double wall = double(kWallFactor) * budget + double(kWallSlackUs) / 1e6;
  ASSERT_TRUE(viewer.wait_frames(1, wall + kFewSeconds)) << viewer.stop();
  EXPECT_LT(decodersCpuSeconds(viewer), budget + 1.5)
      << "CPU seconds spent decoding, with a budget of " << budget << " s";
  ASSERT_TRUE(viewer.wait_frames(100, 30)) << "keeps drawing";
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  if (!GetParam().mayShow) {
    EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite))
        << "front face";
  }
  EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kFaceColours[2].topLeft))
      << "top face";
  EXPECT_EQ("", viewer.stop()) << "the viewer prints nothing";
}

INSTANTIATE_TEST_SUITE_P(Pictures, BadPictureTest,
                         ::testing::ValuesIn(badPictures()),
                         [](const ::testing::TestParamInfo<BadPicture> &info) {
                           return info.param.name;
                         });

using SteadyTest = PictureFolderTest;

TEST_F(SteadyTest, DecoderStuckInTheMiddleCostsOnlyThatFace) {
  // The top picture loops SOIL's decoder until its budget runs out; the
  // pictures after it are still decoded.
  write_bytes(dir + "/b3.jpg", "\xff\xd8\xff\xe0");
  ViewerProcess viewer(dir, true);
  ASSERT_TRUE(viewer.wait_frames(1, kFewSeconds)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kWhite)) << "top face";
  EXPECT_EQ("",
            probe_pixel(first.image, kFrontX, kFrontY, kFaceColours[0].topLeft))
      << "front face";
  // A quarter turn on (y near 270), the right face (b5) is in front.
  Capture turned;
  for (int i = 0; i < 5000; i++) {
    ASSERT_TRUE(viewer.capture(turned));
    double y = std::fmod(0.5 * double(turned.frame), 360.5);
    if (y > 265 && y < 275)
      break;
  }
  EXPECT_EQ(
      "", probe_pixel(turned.image, kFrontX, kFrontY, kFaceColours[4].topLeft))
      << "right face, frame " << turned.frame;
  EXPECT_EQ("", viewer.stop());
}

} // namespace

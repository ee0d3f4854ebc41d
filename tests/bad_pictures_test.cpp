// Broken and hostile pictures: whatever b1.jpg holds, the real viewer starts,
// draws, shows that face white and the others with their pictures, and
// prints nothing. Plus a very large picture, a long run and a burst of input.
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "picture_folder_test.h"
#include "viewer_process.h"

namespace {

// Far below the CPU limit of 10 s a picture that the decoders once had, far
// above what the viewer needs for small pictures, even in a sanitizer build
// on a busy machine.
constexpr double kFewSeconds = 5;

struct BadPicture {
  std::string name;
  std::function<void(const std::string &path)> make;
};

std::string convert(const std::string &args) {
  return run_command("convert " + args + " 2>&1");
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
      {"Fifo", [](const std::string &p) { mkfifo(p.c_str(), 0600); }},
  };
  // Files that crash, abort or hang SOIL's decoder, found by a mutation run
  // over valid pictures (tests/fuzz/picture_mutate.cpp).
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
  ViewerProcess viewer(dir, true);
  // A small file gets a small decoding budget: the first frame comes within
  // seconds, not after a long flat limit.
  ASSERT_TRUE(viewer.wait_frames(1, kFewSeconds)) << viewer.stop();
  ASSERT_TRUE(viewer.wait_frames(100, 30)) << "keeps drawing";
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite))
      << "front face";
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

// Whether a process is gone (or a zombie, no longer running).
bool gone(pid_t pid) {
  std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  return status.empty() || status.find("State:\tZ") != std::string::npos;
}

// Once a decoder's seccomp filter is on (the last step of its set-up), what
// else its sandbox lacks: no new privileges, and no descriptors but the
// pictures, its pipes and /dev/null. "" when all is as it should be;
// "not yet" before the filter is on or after the decoder is gone.
std::string sandboxProblems(pid_t pid, const std::string &dir) {
  std::string proc = "/proc/" + std::to_string(pid);
  std::string status = read_file(proc + "/status"), problems;
  if (status.find("Seccomp:\t2") == std::string::npos)
    return "not yet";
  if (status.find("NoNewPrivs:\t1") == std::string::npos)
    problems += " new privileges possible;";
  std::istringstream lines(run_command("cd " + proc +
                                       "/fd && for f in *; do echo $f " +
                                       "$(readlink $f); done 2>/dev/null"));
  int pipes = 0;
  for (std::string fd, target; lines >> fd >> target;) {
    bool standard = fd == "0" || fd == "1" || fd == "2";
    if (target.rfind("pipe:", 0) == 0 && ++pipes <= 2)
      continue;
    if (target.rfind(dir + "/b", 0) != 0 &&
        !(standard && target == "/dev/null"))
      problems += " holds " + fd + " -> " + target + ";";
  }
  return problems;
}

struct LargePicture {
  std::string name, convertArgs;
  Rgb colour;
  std::string preload = ""; // a library to preload into the viewer
};

void PrintTo(const LargePicture &p, std::ostream *os) {
  *os << p.name;
}

class LargePictureTest : public PictureFolderTest,
                         public ::testing::WithParamInterface<LargePicture> {};

// Real pictures are never refused, however large or well compressed; and
// while one decodes, its decoder is seen in its sandbox from outside.
TEST_P(LargePictureTest, LoadsInASandboxedDecoder) {
  ASSERT_EQ("", convert(GetParam().convertArgs + dir + "/b1.jpg"));
  ViewerProcess viewer(dir, true, VORLIX_BINARY, GetParam().preload);
  std::set<pid_t> checked;
  while (viewer.alive() && viewer.record().frames == 0) {
    for (pid_t decoder : viewer.children()) {
      if (checked.count(decoder))
        continue;
      std::string problems = sandboxProblems(decoder, dir);
      if (problems != "not yet") {
        checked.insert(decoder);
        EXPECT_EQ("", problems) << "decoder " << decoder;
      }
    }
  }
  EXPECT_FALSE(checked.empty()) << "no sandboxed decoder seen at work";
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, GetParam().colour,
                            GetParam().name.rfind("Photo", 0) == 0 ? 60 : 12));
  EXPECT_EQ("", viewer.stop());
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, LargePictureTest,
    ::testing::Values(
        // Noise on grey: as slow to decode per pixel as a detailed photo.
        LargePicture{"Photo24Megapixels",
                     "-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                     "Uniform -type TrueColor -interlace none -quality 92 jpg:",
                     {128, 128, 128}},
        // On a kernel without close_range (before 5.9) the decoders close
        // what they must not hold one by one.
        LargePicture{"PhotoOnAKernelWithoutCloseRange",
                     "-size 6000x4000 xc:'#808080' -attenuate 0.3 +noise "
                     "Uniform -type TrueColor -interlace none -quality 92 jpg:",
                     {128, 128, 128},
                     NO_CLOSE_RANGE},
        LargePicture{"OneColourJpeg6000x4000",
                     "-size 6000x4000 xc:'#20a040' -interlace none "
                     "-quality 95 jpg:",
                     {32, 160, 64}},
        LargePicture{"OneColourPng6000x4000",
                     "-size 6000x4000 xc:'#20a040' -define png:bit-depth=8 "
                     "png:",
                     {32, 160, 64}}),
    [](const ::testing::TestParamInfo<LargePicture> &info) {
      return info.param.name;
    });

TEST_F(SteadyTest, KilledViewerLeavesNoDecoder) {
  for (int i = 1; i <= 6; i++)
    ASSERT_EQ("", convert("-size 6000x4000 xc:'#20a040' -interlace none jpg:" +
                          dir + "/b" + std::to_string(i) + ".jpg"));
  ViewerProcess viewer(dir);
  // Decoders at work: in their sandbox, the last step of their set-up.
  std::vector<pid_t> decoders;
  while (decoders.empty() && viewer.alive() && viewer.record().frames == 0)
    for (pid_t child : viewer.children())
      if (read_file("/proc/" + std::to_string(child) + "/status")
              .find("Seccomp:\t2") != std::string::npos)
        decoders.push_back(child);
  ASSERT_FALSE(decoders.empty()) << "no decoder seen at work";
  // Stopped in the middle of a picture, a decoder can't end by itself.
  for (pid_t decoder : decoders)
    kill(decoder, SIGSTOP);
  kill(viewer.pid(), SIGKILL);
  viewer.stop();
  long long end = ViewerProcess::now_ns() + 500000000LL;
  for (pid_t decoder : decoders) {
    while (!gone(decoder) && ViewerProcess::now_ns() < end)
      usleep(10000);
    EXPECT_TRUE(gone(decoder)) << "decoder " << decoder << " still there";
  }
  for (pid_t decoder : decoders)
    kill(decoder, SIGKILL);
}

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

TEST_F(SteadyTest, LongRunKeepsMemoryFlat) {
  // AddressSanitizer holds freed blocks back for a while (its quarantine),
  // which would look like growth; the driver frees some every frame.
  const char *asan = std::getenv("ASAN_OPTIONS");
  setenv("ASAN_OPTIONS",
         (std::string(asan ? asan : "") + ":quarantine_size_mb=0").c_str(), 1);
  ViewerProcess viewer(dir);
  ASSERT_TRUE(viewer.wait_frames(3000, 120)) << viewer.stop();
  long settled = viewer.rss_kib();
  unsigned long long start = viewer.record().frames;
  ASSERT_TRUE(viewer.wait_frames(start + 30000, 300));
  long after = viewer.rss_kib();
  EXPECT_LE(after - settled, 2048)
      << "resident memory grew from " << settled << " KiB to " << after
      << " KiB over 30000 frames";
  EXPECT_EQ("", viewer.stop());
}

TEST_F(SteadyTest, BurstOfKeysAndResizes) {
  ViewerProcess viewer(dir);
  ASSERT_TRUE(viewer.wait_frames(2)) << viewer.stop();
  std::string wid = viewer.window_id();

  std::string keys = "xdotool key --window " + wid + " --delay 0";
  for (int i = 0; i < 1000; i++)
    keys += " x y z";
  run_command(keys);
  std::string resizes = "xdotool";
  for (int i = 0; i < 300; i++)
    resizes += " windowsize " + wid + " " + std::to_string(200 + i % 7 * 90) +
               " " + std::to_string(120 + i % 5 * 70);
  run_command(resizes);
  run_command("xdotool windowsize " + wid + " 480 360");

  ASSERT_TRUE(viewer.wait_frames(viewer.record().frames + 200, 30))
      << "still drawing";
  for (int i = 0; i < 200 && viewer.record().viewport[2] != 480; i++)
    usleep(10000);
  FrameRecord r = viewer.record();
  EXPECT_EQ(480, r.viewport[2]);
  EXPECT_EQ(360, r.viewport[3]);
  EXPECT_EQ("", viewer.stop());
}

} // namespace

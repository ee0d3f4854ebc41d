// Broken and hostile pictures: whatever b1.jpg holds, the real viewer starts,
// draws, shows that face white and the others with their pictures, and
// prints nothing. Plus a very large picture, a long run and a burst of input.
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture_folder_test.h"
#include "viewer_process.h"

namespace {

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
      {"Gif",
       [](const std::string &p) { convert("-size 8x8 xc:blue gif:" + p); }},
      {"ProgressiveJpeg",
       [](const std::string &p) {
         convert("-size 64x64 plasma:fractal -interlace JPEG jpg:" + p);
       }},
  };
  // Files that crash, abort or hang SOIL's decoder, found by a mutation run
  // over valid pictures (tests/fuzz/soil_mutate.c).
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
  // The guard's limits bound the wait: 10 s CPU, 15 s wall per picture.
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
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

TEST_F(SteadyTest, LargePhotoLoadsAndShows) {
  // 24 megapixels, baseline JPEG, one colour.
  ASSERT_EQ("", convert("-size 6000x4000 xc:'#20a040' -interlace none "
                        "-quality 95 jpg:" +
                        dir + "/b1.jpg"));
  ViewerProcess viewer(dir, true);
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, {32, 160, 64}, 12));
  EXPECT_EQ("", viewer.stop());
}

TEST_F(SteadyTest, DecoderStuckInTheMiddleCostsOnlyThatFace) {
  // The top picture loops SOIL's decoder until its limit; the pictures
  // after it are still decoded.
  write_bytes(dir + "/b3.jpg", "\xff\xd8\xff\xe0");
  ViewerProcess viewer(dir, true);
  ASSERT_TRUE(viewer.wait_frames(1, 60)) << viewer.stop();
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

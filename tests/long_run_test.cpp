// Long runs and bursts: the real viewer's memory stays flat over tens of
// thousands of frames, and thousands of keys and resizes leave it drawing at
// the right size.
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

#include "picture_folder_test.h"
#include "viewer_process.h"

namespace {

using SteadyTest = PictureFolderTest;

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

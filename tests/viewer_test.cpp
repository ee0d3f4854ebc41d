// The real viewer in a real X window: its window, its first frame, keys sent
// through the X server, resizing, and its silence.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
// After GoogleTest, which names a type None, a macro here.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>

#include "picture/kinds.h"
#include "picture_folder_test.h"
#include "viewer_process.h"

namespace {

std::string xdotool(const std::string &args) {
  return run_command("xdotool " + args + " 2>&1");
}

// A capture taken where the x and z angles can be read off the matrix. The
// spin crosses the unreadable band (|cos y| < 0.3, 35 degrees) in 70 frames;
// each capture is at least one frame after the last.
Angles readableAngles(ViewerProcess &viewer) {
  for (int tries = 0; tries < 400; tries++) {
    Capture c;
    if (!viewer.capture(c))
      break;
    if (std::fabs(c.modelview[0]) > 0.3f)
      return angles_of(c.modelview);
  }
  ADD_FAILURE() << "no frame with readable angles";
  return {0, 0, 0};
}

using ViewerTest = PictureFolderTest;

TEST_F(ViewerTest, OpensItsWindowAndDrawsTheTiltedCube) {
  ViewerProcess viewer(dir, true);
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  std::string info = run_command("xwininfo -id " + viewer.window_id());
  EXPECT_NE(std::string::npos, info.find("\"Vorlix\"")) << info;
  EXPECT_NE(std::string::npos, info.find("Absolute upper-left X:  100"))
      << info;
  EXPECT_NE(std::string::npos, info.find("Absolute upper-left Y:  100"))
      << info;
  EXPECT_NE(std::string::npos, info.find("Width: 480")) << info;
  EXPECT_NE(std::string::npos, info.find("Height: 360")) << info;
  EXPECT_NE(std::string::npos, info.find("Depth: 24")) << info;
  EXPECT_EQ("WM_CLASS(STRING) = \"vorlix\", \"Vorlix\"\n",
            run_command("xprop -id " + viewer.window_id() + " WM_CLASS"));

  // The first frame: tilted 40 degrees, turned half a degree, top in view.
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", check_modelview(first.modelview, 40, 0.5, 0));
  EXPECT_EQ("",
            probe_pixel(first.image, kFrontX, kFrontY, kFaceColours[0].topLeft))
      << "front face";
  EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kFaceColours[2].topLeft))
      << "top face";
  EXPECT_EQ("", probe_pixel(first.image, 3, 3, kBlack)) << "background";

  // It keeps spinning by itself, half a degree a frame.
  ASSERT_TRUE(viewer.wait_frames(50));
  Capture later;
  ASSERT_TRUE(viewer.capture(later));
  Angles a = angles_of(later.modelview);
  EXPECT_NEAR(40.0, a.x, 1e-3);
  EXPECT_NEAR(0.0, a.z, 1e-3);
  double y = std::fmod(0.5 * double(later.frame), 360.5);
  EXPECT_NEAR(std::remainder(y - a.y, 360.0), 0.0, 1e-3)
      << "frame " << later.frame;
  EXPECT_EQ("", viewer.stop()) << "the viewer prints nothing";
}

// What a window manager sees as it takes the window (here the test is the
// window manager, and the viewer's map comes to it as a request): the
// window's class and its icon, at 48 and 128 pixels, already there. The
// class is there as the viewer asks for the map, too (map_probe.c): Xlib
// would send a class set just after in the same flush.
TEST_F(ViewerTest, WindowSaysWhoItIsBeforeItIsShown) {
  Display *x = XOpenDisplay(nullptr);
  ASSERT_NE(nullptr, x);
  XSelectInput(x, DefaultRootWindow(x), SubstructureRedirectMask);
  XSync(x, False);
  ViewerProcess viewer(dir, false, VORLIX_BINARY, MAP_PROBE);
  // Windows of other programs on the display (tests run side by side) are
  // let through as they ask.
  XEvent e = {};
  long long end = ViewerProcess::now_ns() + 30000000000LL;
  Window window = None;
  while (window == None && ViewerProcess::now_ns() < end) {
    if (XPending(x) == 0) {
      usleep(2000);
      continue;
    }
    XNextEvent(x, &e);
    char *name = nullptr;
    if (e.type == MapRequest && XFetchName(x, e.xmaprequest.window, &name) &&
        std::string(name) == "Vorlix")
      window = e.xmaprequest.window;
    else if (e.type == MapRequest)
      XMapWindow(x, e.xmaprequest.window);
    if (name != nullptr)
      XFree(name);
  }
  ASSERT_NE(None, window) << "the viewer asked for no window";
  XClassHint hint = {};
  ASSERT_NE(0, XGetClassHint(x, window, &hint)) << "no class";
  EXPECT_STREQ("vorlix", hint.res_name);
  EXPECT_STREQ("Vorlix", hint.res_class);
  XFree(hint.res_name);
  XFree(hint.res_class);
  Atom type;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char *icon = nullptr;
  XGetWindowProperty(x, window, XInternAtom(x, "_NET_WM_ICON", False), 0,
                     1 << 20, False, XA_CARDINAL, &type, &format, &items,
                     &after, &icon);
  ASSERT_NE(nullptr, icon) << "no icon";
  const long *sizes = reinterpret_cast<const long *>(icon);
  EXPECT_EQ(2u + 48 * 48 + 2 + 128 * 128, items);
  if (items > 2 + 48 * 48 + 1) {
    EXPECT_EQ(48, sizes[0]);
    EXPECT_EQ(48, sizes[1]);
    EXPECT_EQ(128, sizes[2 + 48 * 48]);
    EXPECT_EQ(128, sizes[3 + 48 * 48]);
  }
  XFree(icon);
  XMapWindow(x, window); // and lets it be shown
  XCloseDisplay(x);
  EXPECT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  EXPECT_EQ("asked to map a window of class vorlix, Vorlix\n", viewer.stop());
}

TEST_F(ViewerTest, KeysTurnTheCube) {
  ViewerProcess viewer(dir);
  ASSERT_TRUE(viewer.wait_frames(2)) << viewer.stop();
  std::string wid = viewer.window_id();

  xdotool("key --window " + wid + " x x x z z");
  ASSERT_TRUE(viewer.wait_frames(viewer.record().frames + 5));
  usleep(200000);
  Angles a = readableAngles(viewer);
  EXPECT_NEAR(43.0, a.x, 1e-3);
  EXPECT_NEAR(2.0, a.z, 1e-3);

  // Capitals and other keys change nothing.
  xdotool("key --window " + wid + " X Z Y q space Escape");
  usleep(300000);
  a = readableAngles(viewer);
  EXPECT_NEAR(43.0, a.x, 1e-3);
  EXPECT_NEAR(2.0, a.z, 1e-3);

  // "y" jumps the spin: ten presses turn it ten degrees beyond the frames'
  // own half degrees. Measured where no wrap at 360 can come in between.
  Capture before, after;
  bool measured = false;
  for (int tries = 0; tries < 500 && !measured; tries++) {
    ASSERT_TRUE(viewer.capture(before));
    double y = angles_of(before.modelview).y;
    if (y < 1 || y > 170) { // 360 looks like 0, and wraps next frame
      usleep(5000);
      continue;
    }
    xdotool("key --window " + wid + " y y y y y y y y y y");
    ASSERT_TRUE(viewer.capture(after));
    measured = after.frame - before.frame < 300;
  }
  ASSERT_TRUE(measured) << "no frames to compare";
  // The matrix gives y in (-180, 180]; the turn stays below 360 (at most
  // 170 + 150 + 10), so one full turn put back makes the difference exact.
  auto full = [](double y) { return y < 0 ? y + 360 : y; };
  double spin = 0.5 * double(after.frame - before.frame);
  double turned =
      full(angles_of(after.modelview).y) - full(angles_of(before.modelview).y);
  EXPECT_NEAR(10.0, turned - spin, 1e-3)
      << "frames " << before.frame << " to " << after.frame;
  EXPECT_EQ("", viewer.stop());
}

TEST_F(ViewerTest, ResizedWindowKeepsDrawingUndistorted) {
  ViewerProcess viewer(dir);
  ASSERT_TRUE(viewer.wait_frames(2)) << viewer.stop();
  std::string wid = viewer.window_id();
  xdotool("windowsize " + wid + " 640 240");
  for (int i = 0; i < 200 && viewer.record().viewport[2] != 640; i++)
    usleep(10000);
  FrameRecord r = viewer.record();
  EXPECT_EQ(640, r.viewport[2]);
  EXPECT_EQ(240, r.viewport[3]);
  double f = 1.0 / std::tan(M_PI / 6);
  EXPECT_NEAR(f / (640.0 / 240.0), r.projection[0], 1e-5);
  EXPECT_NEAR(f, r.projection[5], 1e-5);
  ASSERT_TRUE(viewer.wait_frames(r.frames + 100)) << "still drawing";

  Capture c;
  ASSERT_TRUE(viewer.capture(c));
  EXPECT_EQ(640, c.image.width);
  EXPECT_EQ(240, c.image.height);
  EXPECT_EQ("", probe_pixel(c.image, 3, 3, kBlack));
  EXPECT_EQ("", probe_pixel(c.image, 636, 236, kBlack));
  EXPECT_EQ("", viewer.stop());
}

TEST_F(ViewerTest, MissingPictureShowsAWhiteFace) {
  ASSERT_EQ(0, unlink((dir + "/b1.jpg").c_str()));
  ViewerProcess viewer(dir, true);
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite));
  EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kFaceColours[2].topLeft))
      << "top face";
  EXPECT_EQ("", viewer.stop());
}

// A decoder program that is missing, can't be run, is another program or
// is killed as it starts: every face white, nothing printed, as for
// pictures that fail.
TEST_F(ViewerTest, MissingOrBrokenDecoderLeavesEveryFaceWhite) {
  if (access(INSTALLED_DECODER, F_OK) == 0)
    GTEST_SKIP() << "a decoder is installed at " << INSTALLED_DECODER;
  struct {
    const char *name, *script;
    bool executable;
  } decoders[] = {{"missing", "", true},
                  {"not executable", "#!/bin/sh\n", false},
                  {"another program", "#!/bin/sh\nexit 0\n", true},
                  {"killed at once", "#!/bin/sh\nkill -KILL $$\n", true}};
  for (const auto &d : decoders) {
    SCOPED_TRACE(d.name);
    std::string programs = make_temp_dir();
    ViewerProcess viewer(
        dir, true, viewer_beside_decoder(programs, d.script, d.executable));
    ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
    Capture first;
    ASSERT_TRUE(viewer.first_capture(first));
    EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY, kWhite));
    EXPECT_EQ("", probe_pixel(first.image, kTopX, kTopY, kWhite));
    EXPECT_EQ("", viewer.stop());
    remove_tree(programs);
  }
}

// A phone screenshot's size, whose rows are not a multiple of 4 bytes: GL
// once read them past the end of their copy, and the viewer crashed in most
// starts. Its left half red, its right half blue.
TEST_F(ViewerTest, PhoneScreenshotShowsEveryTimeAndTheWindowClosesIt) {
  ASSERT_EQ("", run_command("convert -size 1170x2532 xc:'#0000ff' -fill "
                            "'#ff0000' -draw 'rectangle 0,0 584,2531' "
                            "-define png:color-type=2 png24:" +
                            dir + "/b1.jpg 2>&1"));
  for (int start = 1; start <= 5; start++) {
    SCOPED_TRACE("start " + std::to_string(start));
    ViewerProcess viewer(dir, true);
    ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
    Capture first;
    ASSERT_TRUE(viewer.first_capture(first));
    EXPECT_EQ("", probe_pixel(first.image, kFrontX - 30, kFrontY, {255, 0, 0}))
        << "left half";
    EXPECT_EQ("", probe_pixel(first.image, kFrontX + 30, kFrontY, {0, 0, 255}))
        << "right half";
    ASSERT_TRUE(viewer.close_window());
    EXPECT_EQ(0, viewer.wait_exit()) << "wait status";
    EXPECT_EQ("", viewer.stop());
  }
}

// A folder of camera pictures through the launcher: the first on the
// front, the third on top; the launcher's private folder is gone once the
// viewer's window is closed, and once the launcher is ended.
TEST_F(ViewerTest, LauncherShowsAFolderOfCameraPictures) {
  std::string photos = make_temp_dir(), runtime = make_temp_dir();
  std::string state = make_temp_dir();
  for (int i : {10, 6, 5, 4, 3, 2, 1}) {
    Rgb c = kFaceColours[i % 6].topLeft;
    write_quadrant_picture(photos + "/IMG_" + std::to_string(i) + ".jpg", 16,
                           16, {c, c, c, c});
  }
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  for (bool closeWindow : {true, false}) {
    SCOPED_TRACE(closeWindow ? "window closed" : "launcher ended");
    // A place of its own each time: the show starts from the beginning.
    setenv("XDG_STATE_HOME", (state + (closeWindow ? "/1" : "/2")).c_str(), 1);
    ViewerProcess launcher(dir, true, LAUNCHER_BINARY, "", {photos});
    ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
    Capture first;
    ASSERT_TRUE(launcher.first_capture(first));
    EXPECT_EQ(
        "", probe_pixel(first.image, kFrontX, kFrontY, kFaceColours[1].topLeft))
        << "front: IMG_1";
    EXPECT_EQ("",
              probe_pixel(first.image, kTopX, kTopY, kFaceColours[3].topLeft))
        << "top: IMG_3";
    EXPECT_NE("", run_command("ls -A " + runtime)) << "no private folder";
    if (closeWindow) {
      xdotool("windowclose " + launcher.window_id());
      for (int i = 0; i < 500 && launcher.alive(); i++)
        usleep(10000);
      EXPECT_FALSE(launcher.alive()) << "the launcher outlives the viewer";
    }
    launcher.stop();
    EXPECT_EQ("", run_command("ls -A " + runtime)) << "private folder left";
  }
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {photos, runtime, state})
    remove_tree(d);
}

// The bundled pictures' first frame: the red "1" face at the front, the
// green "3" face on top.
void expectSamplesShown(ViewerProcess &viewer) {
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  Capture first;
  ASSERT_TRUE(viewer.first_capture(first));
  const unsigned char *front =
      &first.image
           .rgba[(size_t(kFrontY - 20) * first.image.width + kFrontX - 30) * 4];
  EXPECT_GT(front[0], 150) << "red front";
  EXPECT_LT(front[2], 100) << "red front";
  const unsigned char *top =
      &first.image.rgba[(size_t(kTopY) * first.image.width + kTopX - 30) * 4];
  EXPECT_GT(top[1], top[0] + 40) << "green top";
  EXPECT_EQ("", viewer.stop());
}

// A whole folder through the launcher: 20 flat colours, a short time on
// show, every frame read back in turn. What a face shows is read at its
// middle whenever it is turned to the eye enough for that to be on it.
struct Show {
  const char *name;
  std::vector<std::string> options;
  bool shuffled;
};

void PrintTo(const Show &s, std::ostream *os) {
  *os << s.name;
}

class ShowTest : public ::testing::TestWithParam<Show> {};

Rgb showColour(int i) { // 20 colours at least 120 apart in some channel
  return {static_cast<unsigned char>(15 + 120 * (i % 3)),
          static_cast<unsigned char>(15 + 120 * (i / 3 % 3)),
          static_cast<unsigned char>(15 + 120 * (i / 9))};
}

// Face f's middle, and normal (its turn to the eye in z), in eye space.
struct FaceSeen {
  double x, y, z, towards;
};

FaceSeen faceIn(const float *m, int f) {
  static const double n[6][3] = {{0, 0, 1},  {0, 0, -1}, {0, 1, 0},
                                 {0, -1, 0}, {1, 0, 0},  {-1, 0, 0}};
  auto row = [&](int r) {
    return m[r] * n[f][0] + m[4 + r] * n[f][1] + m[8 + r] * n[f][2];
  };
  return {row(0) + m[12], row(1) + m[13], row(2) + m[14], row(2)};
}

// The picture at the middle of a face turned to the eye by 0.3 or more
// (-2: none of the show's), else -1.
int pictureOn(const Capture &c, const FaceSeen &face) {
  if (face.towards < 0.3)
    return -1;
  double f = 1 / std::tan(M_PI / 6);
  int x = int(240 + 240 * f * 0.75 * face.x / -face.z);
  int y = int(180 + 180 * f * face.y / -face.z);
  for (int i = 0; i < 20; i++)
    if (probe_pixel(c.image, x, y, showColour(i), 30).empty())
      return i;
  return -2;
}

TEST_P(ShowTest, EveryPictureSeenEachRoundFacesChangingOnlyTurnedAway) {
  const Show &show = GetParam();
  std::string dir = make_temp_dir(), photos = make_temp_dir();
  std::string runtime = make_temp_dir();
  for (int i = 0; i < 20; i++) {
    Rgb c = showColour(i);
    write_quadrant_picture(photos + "/" + std::to_string(i) + ".tga", 8, 8,
                           {c, c, c, c});
  }
  // In order, among them a broken one, and one removed once the show is on.
  const int broken = show.shuffled ? -1 : 9, removed = show.shuffled ? -1 : 13;
  if (broken >= 0)
    write_bytes(photos + "/9.tga", std::string(400, '\x7f'));
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  std::vector<std::string> args = show.options;
  args.push_back(photos);
  ViewerProcess viewer(dir, false, LAUNCHER_BINARY, "", args);
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  if (removed >= 0)
    unlink((photos + "/13.tga").c_str());
  viewer.lockstep(true);

  // What each face shows while it stays in view, and last showed.
  int inView[6] = {-1, -1, -1, -1, -1, -1}, last[6] = {-1, -1, -1, -1, -1, -1};
  std::vector<int> changes;   // pictures as faces come round with new ones
  std::vector<size_t> rounds; // where in `changes` all had been seen again
  std::set<int> unseen, all;
  for (int i = 0; i < 20; i++)
    if (i != broken && i != removed)
      all.insert(i);
  unseen = all;
  Capture c;
  for (int frame = 0; frame < 40000 && rounds.size() < 3; frame++) {
    ASSERT_TRUE(viewer.capture(c)) << viewer.stop();
    for (int f = 0; f < 6; f++) {
      FaceSeen face = faceIn(c.modelview, f);
      if (face.towards <= 0.2)
        inView[f] = -1; // turned away: it may change now
      int p = pictureOn(c, face);
      if (p == -1)
        continue;
      ASSERT_TRUE(all.count(p))
          << "face " << f << " shows " << p << " in frame " << c.frame;
      ASSERT_TRUE(inView[f] < 0 || inView[f] == p)
          << "face " << f << " changed in view in frame " << c.frame;
      inView[f] = p;
      if (last[f] >= 0 && last[f] != p)
        changes.push_back(p);
      last[f] = p;
      unseen.erase(p);
      if (unseen.empty()) {
        rounds.push_back(changes.size());
        unseen = all;
      }
    }
  }
  viewer.lockstep(false);
  ASSERT_GE(rounds.size(), 3u) << "every picture seen three times over";
  // Pictures come in an order, each once in it, round after round: in the
  // list's, or in the first round's where the order is shuffled, which the
  // rounds after it are not.
  auto rank = [&](int p) {
    if (!show.shuffled)
      return long(p);
    auto at = std::find(changes.begin(), changes.begin() + long(rounds[0]), p);
    return at == changes.begin() + long(rounds[0]) ? -1L : at - changes.begin();
  };
  int descents = 0;
  long previous = -1;
  for (size_t i = show.shuffled ? rounds[0] : 0; i < changes.size(); i++) {
    long r = rank(changes[i]);
    descents += r >= 0 && previous >= 0 && r <= previous;
    previous = r >= 0 ? r : previous;
  }
  if (show.shuffled)
    EXPECT_GT(descents, int(rounds.size()) + 2) << "the same order each round";
  else
    EXPECT_LE(descents, int(rounds.size())) << "out of the list's order";
  EXPECT_EQ("", viewer.stop());
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {dir, photos, runtime})
    remove_tree(d);
}

INSTANTIATE_TEST_SUITE_P(
    Folder, ShowTest,
    ::testing::Values(Show{"InOrder", {"--seconds", "0.1"}, false},
                      Show{"Shuffled", {"--shuffle", "--seconds=0.1"}, true}),
    [](const ::testing::TestParamInfo<Show> &info) { return info.param.name; });

// A library of two folders: a photo copied in while the show runs joins
// it; the show started again goes on after the last picture seen; with its
// place damaged, from the beginning.
TEST(LibraryShow, NewPhotoJoinsAndTheShowGoesOnWhereItStopped) {
  std::string dir = make_temp_dir(), photos = make_temp_dir();
  std::string runtime = make_temp_dir(), state = make_temp_dir();
  mkdir((photos + "/2023").c_str(), 0700);
  mkdir((photos + "/2024").c_str(), 0700);
  auto photo = [&](int i) { // 0-3 in 2023, 4-8 in 2024
    return photos + (i < 4 ? "/2023/" : "/2024/") + std::to_string(i) + ".tga";
  };
  auto write = [&](int i, const std::string &path) {
    Rgb c = showColour(i);
    write_quadrant_picture(path, 8, 8, {c, c, c, c});
  };
  for (int i = 0; i < 8; i++)
    write(i, photo(i));
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  std::vector<std::string> args = {"--seconds", "0.1", "--rescan", "1", photos};
  {
    ViewerProcess viewer(dir, false, LAUNCHER_BINARY, "", args);
    ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
    write(8, dir + "/copying.tga"); // copied in whole, as a copy ends
    ASSERT_EQ(0, rename((dir + "/copying.tga").c_str(), photo(8).c_str()));
    viewer.lockstep(true);
    bool seen = false;
    Capture c;
    long long until = ViewerProcess::now_ns() + 40000000000LL;
    while (!seen && ViewerProcess::now_ns() < until) {
      ASSERT_TRUE(viewer.capture(c)) << viewer.stop();
      for (int f = 0; f < 6; f++)
        seen = seen || pictureOn(c, faceIn(c.modelview, f)) == 8;
    }
    viewer.lockstep(false);
    EXPECT_TRUE(seen) << "the new photo never came";
    EXPECT_EQ("", viewer.stop());
  }
  // The place kept: the last picture seen.
  std::string kept = run_command("cat " + state + "/vorlix/place-*");
  size_t at = kept.find(std::string("\0\x01", 2));
  ASSERT_NE(std::string::npos, at) << kept;
  std::string last = kept.substr(at + 2, kept.size() - at - 3);
  int next = -1;
  for (int i = 0; i < 9; i++)
    if (last == photo(i))
      next = (i + 1) % 9;
  ASSERT_GE(next, 0) << last;
  for (int again = 0; again < 2; again++) {
    SCOPED_TRACE(again ? "its place damaged" : "started again");
    if (again)
      run_command("for f in " + state + "/vorlix/place-*; do " +
                  "printf 'vorlix place 1\\nzz\\0' > \"$f\"; done");
    ViewerProcess viewer(dir, true, LAUNCHER_BINARY, "", args);
    ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
    Capture first;
    ASSERT_TRUE(viewer.first_capture(first));
    EXPECT_EQ("", probe_pixel(first.image, kFrontX, kFrontY,
                              showColour(again ? 0 : next)));
    EXPECT_EQ("", viewer.stop());
  }
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {dir, photos, runtime, state})
    remove_tree(d);
}

// A show whose decoder is killed as it starts does not start one every
// frame: it rests a second after each that failed.
TEST(ShowWithoutADecoder, RestsBetweenStarts) {
  std::string dir = make_temp_dir(), photos = make_temp_dir();
  std::string programs = make_temp_dir(), runtime = make_temp_dir();
  for (int i = 0; i < 20; i++)
    write_quadrant_picture(photos + "/" + std::to_string(i) + ".tga", 8, 8,
                           kFaceColours[i % 6]);
  viewer_beside_decoder(programs, "#!/bin/sh\necho >> " + programs +
                                      "/starts\nkill -KILL $$\n");
  run_command("cp " LAUNCHER_BINARY " " + programs + "/vorlix-open");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  ViewerProcess viewer(dir, false, programs + "/vorlix-open", "",
                       {"--seconds", "0.1", photos});
  ASSERT_TRUE(viewer.wait_frames(1)) << viewer.stop();
  long long since = ViewerProcess::now_ns();
  ASSERT_TRUE(viewer.wait_frames(viewer.record().frames + 200, 30));
  usleep(3000000);
  double seconds = (ViewerProcess::now_ns() - since) / 1e9;
  std::string starts = read_file(programs + "/starts");
  long n = std::count(starts.begin(), starts.end(), '\n');
  EXPECT_GE(n, 1) << "no decoder started";
  // The six faces' first, then one a second at most.
  EXPECT_LE(n, 6 + long(seconds) + 2) << "in " << seconds << " s";
  EXPECT_EQ("", viewer.stop());
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {dir, photos, programs, runtime})
    remove_tree(d);
}

// The viewer's decoders playing animations (those that decode behind the
// frames, the show's decoding ahead, are left out).
int animationDecoders(pid_t viewer) {
  int n = 0;
  std::string all = run_command("cat /proc/" + std::to_string(viewer) +
                                "/task/*/children 2>/dev/null");
  for (size_t at = 0; at < all.size();) {
    size_t end = std::min(all.find(' ', at), all.size());
    std::string line =
        read_file("/proc/" + all.substr(at, end - at) + "/cmdline");
    std::vector<std::string> args;
    for (size_t a = 0; a < line.size(); a = line.find('\0', a) + 1)
      args.push_back(line.c_str() + a);
    n += args.size() > 7 &&
         args[0].find("vorlix-decode") != std::string::npos && args[7] == "0";
    at = end + 1;
  }
  return n;
}

// An animated GIF among a show's pictures, not one of the first six: it
// plays on its face, in a decoder of its own, which ends when the face
// takes another picture; the show goes on.
TEST(AnimationInAShow, PlaysWhileOnItsFaceItsDecoderEndingAfter) {
  std::string dir = make_temp_dir(), photos = make_temp_dir();
  std::string runtime = make_temp_dir();
  for (int i = 0; i < 8; i++)
    write_quadrant_picture(photos + "/" + std::to_string(i) + ".tga", 8, 8,
                           kFaceColours[i % 6]);
  convert("-delay 5 -size 8x8 xc:red xc:blue -loop 0 gif:" + photos + "/7.tga");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  ViewerProcess launcher(dir, false, LAUNCHER_BINARY, "",
                         {"--seconds", "0.1", photos});
  ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
  std::vector<pid_t> viewer = launcher.children();
  ASSERT_EQ(1u, viewer.size());
  int started = 0, ended = 0, playing = 0;
  for (int i = 0; i < 400 && ended < 2; i++) {
    int now = animationDecoders(viewer[0]);
    started += now > playing;
    ended += now < playing;
    playing = now;
    usleep(50000);
  }
  EXPECT_GE(started, 2) << "it plays each time it comes round";
  EXPECT_GE(ended, 2) << "its decoder ends each time it leaves";
  EXPECT_LE(playing, 1);
  EXPECT_EQ("", launcher.stop());
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {dir, photos, runtime})
    remove_tree(d);
}

// How long each of the viewer's clip decoders lived (started for a clip of
// these kinds, 1 << kind each, seen alive every 100 ms), in seconds, polled
// for `seconds`.
std::vector<double> clipDecoderLives(pid_t viewer, unsigned kindBits,
                                     double seconds) {
  std::map<std::string, std::pair<long long, long long>> seen;
  std::string kinds = std::to_string(kindBits);
  long long start = ViewerProcess::now_ns();
  while (ViewerProcess::now_ns() - start < seconds * 1e9) {
    std::string all = run_command("cat /proc/" + std::to_string(viewer) +
                                  "/task/*/children 2>/dev/null");
    for (size_t at = 0; at < all.size();) {
      size_t end = std::min(all.find(' ', at), all.size());
      std::string pid = all.substr(at, end - at);
      std::string line = read_file("/proc/" + pid + "/cmdline");
      std::vector<std::string> args;
      for (size_t a = 0; a < line.size(); a = line.find('\0', a) + 1)
        args.push_back(line.c_str() + a);
      if (args.size() > 6 && args[6] == kinds) {
        auto &life = seen[pid];
        life.first = life.first != 0 ? life.first : ViewerProcess::now_ns();
        life.second = ViewerProcess::now_ns();
      }
      at = end + 1;
    }
    usleep(100000);
  }
  std::vector<double> lives;
  for (const auto &s : seen)
    lives.push_back((s.second.second - s.second.first) / 1e9);
  return lives;
}

// A clip among a show's pictures stays on its face until it has played
// through once (its face turned away, it stands still), however short the
// show's time; at most the longest time for a clip.
TEST(ClipInAShow, StaysUntilItHasPlayedOnceAtMostItsLongest) {
  std::string photos = make_temp_dir(), runtime = make_temp_dir();
  for (int i = 0; i < 7; i++)
    write_quadrant_picture(photos + "/" + std::to_string(i) + ".tga", 8, 8,
                           kFaceColours[i % 6]);
  run_command("ffmpeg -v error -f lavfi -i color=c=red:s=16x16:r=10:d=6 "
              "-c:v libx264 " +
              photos + "/7.mp4");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  for (std::string longest : {"100", "1"}) {
    std::string dir = make_temp_dir();
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    ViewerProcess launcher(
        dir, false, LAUNCHER_BINARY, "",
        {"--seconds", "0.1", "--longest-clip", longest, photos});
    ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
    std::vector<pid_t> viewer = launcher.children();
    ASSERT_EQ(1u, viewer.size());
    std::vector<double> lives =
        clipDecoderLives(viewer[0], 1u << kMp4Kind, longest == "1" ? 15 : 25);
    double longestLife =
        lives.empty() ? 0 : *std::max_element(lives.begin(), lives.end());
    std::string all;
    for (double l : lives)
      all += std::to_string(l) + " s ";
    SCOPED_TRACE("with --longest-clip " + longest + ", its decoders lived " +
                 all);
    if (longest == "1") {
      EXPECT_GE(lives.size(), 2u) << "it comes round again";
      EXPECT_LT(longestLife, 6) << "it went at its longest";
    } else {
      EXPECT_GE(longestLife, 6) << "its 6 s played through";
    }
    EXPECT_EQ("", launcher.stop());
    remove_tree(dir);
  }
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {photos, runtime})
    remove_tree(d);
}

// A Live Photo among a show's pictures, past the first six: as it comes
// round, its motion plays (a decoder for the MOV and the photo), once (the
// decoder gone again while the show goes on).
TEST(LivePhotoInAShow, ItsMotionPlaysAsItComesRound) {
  std::string photos = make_temp_dir(), runtime = make_temp_dir();
  std::string dir = make_temp_dir();
  for (int i = 0; i < 7; i++)
    write_quadrant_picture(photos + "/" + std::to_string(i) + ".tga", 8, 8,
                           kFaceColours[i % 6]);
  convert("-size 16x16 xc:grey -quality 95 jpg:" + photos + "/7.JPG");
  run_command("ffmpeg -v error -f lavfi -i color=c=red:s=16x16:r=10:d=1 "
              "-c:v libx264 -f mov " +
              photos + "/7.MOV");
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
  ViewerProcess launcher(dir, false, LAUNCHER_BINARY, "",
                         {"--seconds", "0.1", photos});
  ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
  std::vector<pid_t> viewer = launcher.children();
  ASSERT_EQ(1u, viewer.size());
  std::vector<double> lives =
      clipDecoderLives(viewer[0], (1u << kMp4Kind) | (1u << kJpegKind), 12);
  EXPECT_GE(lives.size(), 1u) << "its motion never played";
  for (double l : lives)
    EXPECT_LT(l, 4) << "a second's motion, played once";
  EXPECT_EQ("", launcher.stop());
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("XDG_STATE_HOME");
  for (const std::string &d : {dir, photos, runtime})
    remove_tree(d);
}

// A photo frame's launcher: --fullscreen has the cube fill the screen on a
// bare X server (the window sized to it) and under a window manager
// (openbox, asked in EWMH's way), undistorted (the projection's aspect the
// screen's).
void expectFillsTheScreen(const std::vector<std::string> &args) {
  Display *d = XOpenDisplay(nullptr);
  ASSERT_NE(nullptr, d);
  int w = DisplayWidth(d, DefaultScreen(d)),
      h = DisplayHeight(d, DefaultScreen(d));
  XCloseDisplay(d);
  std::string dir = make_temp_dir();
  ViewerProcess launcher(dir, false, LAUNCHER_BINARY, "", args);
  ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
  for (int i = 0; i < 500 && launcher.record().viewport[2] != w; i++)
    usleep(10000);
  FrameRecord r = launcher.record();
  EXPECT_EQ(w, r.viewport[2]);
  EXPECT_EQ(h, r.viewport[3]);
  double f = 1.0 / std::tan(M_PI / 6);
  EXPECT_NEAR(f / (double(w) / h), r.projection[0], 1e-5) << "undistorted";
  // The pointer over it: the cursor the server shows is all transparent.
  run_command("xdotool mousemove " + std::to_string(w / 2) + " " +
              std::to_string(h / 2));
  d = XOpenDisplay(nullptr);
  int seen = -1;
  for (int i = 0; i < 100 && seen != 0; i++, usleep(20000)) {
    XFixesCursorImage *cursor = XFixesGetCursorImage(d);
    seen = 0;
    for (int p = 0; cursor && p < cursor->width * cursor->height; p++)
      seen += (cursor->pixels[p] >> 24) != 0;
    if (cursor != nullptr)
      XFree(cursor);
  }
  XCloseDisplay(d);
  EXPECT_EQ(0, seen) << "pixels of the pointer seen over the cube";
  EXPECT_EQ("", launcher.stop());
  remove_tree(dir);
}

// The window manager's check window, once openbox has made it.
bool windowManagerUp() {
  for (int i = 0; i < 200; i++) {
    if (run_command("xprop -root _NET_SUPPORTING_WM_CHECK 2>&1")
            .find("window id") != std::string::npos)
      return true;
    usleep(20000);
  }
  return false;
}

// The photo frame's tests change the whole screen: they run on one of their
// own (tests/CMakeLists.txt), not beside others.
#define ON_A_SCREEN_OF_ITS_OWN()                                               \
  if (std::getenv("VORLIX_SCREEN_OF_ITS_OWN") == nullptr)                      \
  GTEST_SKIP() << "run on a screen of its own, as "                            \
                  "PhotoFrame.OnAScreenOfItsOwn"

TEST(PhotoFrame, FullscreenFillsTheScreenWithAndWithoutAWindowManager) {
  ON_A_SCREEN_OF_ITS_OWN();
  {
    SCOPED_TRACE("a bare X server");
    expectFillsTheScreen({"--fullscreen", PICTURES_DIR});
  }
  if (run_command("command -v openbox").empty())
    GTEST_SKIP() << "no openbox to be the window manager";
  pid_t wm = fork();
  if (wm == 0) {
    execlp("openbox", "openbox", "--sm-disable", static_cast<char *>(nullptr));
    _exit(127);
  }
  ASSERT_TRUE(windowManagerUp());
  {
    SCOPED_TRACE("under openbox");
    expectFillsTheScreen({"--fullscreen", PICTURES_DIR});
    SCOPED_TRACE("under openbox, not asked");
    std::string dir = make_temp_dir();
    ViewerProcess launcher(dir, false, LAUNCHER_BINARY, "", {PICTURES_DIR});
    ASSERT_TRUE(launcher.wait_frames(10)) << launcher.stop();
    EXPECT_EQ(480, launcher.record().viewport[2]) << "its own size";
    EXPECT_EQ("", launcher.stop());
    remove_tree(dir);
  }
  kill(wm, SIGTERM);
  waitpid(wm, nullptr, 0);
  run_command("xprop -root -remove _NET_SUPPORTING_WM_CHECK");
}

// "HH:MM:SS", `ahead` seconds from now on the local clock.
std::string timeOfDayIn(int ahead) {
  time_t t = time(nullptr) + ahead;
  tm local = {};
  localtime_r(&t, &local);
  char s[16];
  std::strftime(s, sizeof s, "%H:%M:%S", &local);
  return s;
}

// A process's state letter, from /proc ('T': stopped).
char stateOf(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren + 2 < stat.size() ? stat[paren + 2] : '?';
}

// The screen's pixel at the middle of the viewer's window (where the cube
// is), as "r,g,b".
std::string middleOfTheWindow() {
  std::string out = run_command("import -window root -crop 1x1+340+280 "
                                "-depth 8 txt:- 2>&1");
  size_t open = out.find('(', out.find('\n'));
  return open == std::string::npos
             ? out
             : out.substr(open + 1, out.find(')', open) - open - 1);
}

// Swaps so far, read while the viewer may be stopped halfway through
// recording one (record() would wait for it).
uint64_t swapsOf(ViewerProcess &viewer) {
  return __atomic_load_n(&viewer.probe().frames, __ATOMIC_ACQUIRE);
}

// --screen-off, a range of a few seconds: while it lasts the viewer and its
// decoders are stopped and nothing is drawn, and the screen is off as the
// X server's DPMS says, or, on a server without DPMS (Debian 12's Xvfb),
// covered in black; after it, the screen is on and the viewer draws on.
TEST(PhotoFrame, ScreenOffStopsTheViewerAndTurnsTheScreenOff) {
  ON_A_SCREEN_OF_ITS_OWN();
  std::string dir = make_temp_dir();
  time_t start = time(nullptr);
  std::string range = timeOfDayIn(5) + "-" + timeOfDayIn(10);
  ViewerProcess launcher(dir, false, LAUNCHER_BINARY, "",
                         {"--screen-off", range, PICTURES_DIR});
  ASSERT_TRUE(launcher.wait_frames(1)) << launcher.stop();
  std::vector<pid_t> viewer = launcher.children();
  ASSERT_EQ(1u, viewer.size());
  bool dpms =
      run_command("xset q 2>&1").find("Monitor is") != std::string::npos;
  ASSERT_LT(time(nullptr), start + 4) << "started too slowly to see the day";
  EXPECT_NE('T', stateOf(viewer[0])) << "before the range";
  EXPECT_NE("0,0,0", middleOfTheWindow()) << "the cube shows by day";
  while (time(nullptr) < start + 7)
    usleep(100000);
  EXPECT_EQ('T', stateOf(viewer[0])) << "the viewer stopped at night";
  std::string all = run_command("cat /proc/" + std::to_string(viewer[0]) +
                                "/task/*/children 2>/dev/null");
  for (size_t at = 0; at < all.size();) {
    size_t end = std::min(all.find(' ', at), all.size());
    pid_t decoder = std::atoi(all.substr(at, end - at).c_str());
    if (decoder > 0) {
      EXPECT_EQ('T', stateOf(decoder)) << "decoder " << decoder;
    }
    at = end + 1;
  }
  uint64_t frames = swapsOf(launcher);
  if (dpms) {
    EXPECT_NE(std::string::npos,
              run_command("xset q 2>&1").find("Monitor is Off"));
  } else {
    EXPECT_EQ("0,0,0", middleOfTheWindow()) << "covered in black";
  }
  sleep(1);
  EXPECT_EQ(frames, swapsOf(launcher)) << "nothing drawn at night";
  while (time(nullptr) < start + 12)
    usleep(100000);
  EXPECT_NE('T', stateOf(viewer[0])) << "the viewer going again";
  if (dpms) {
    EXPECT_NE(std::string::npos,
              run_command("xset q 2>&1").find("Monitor is On"));
  }
  EXPECT_TRUE(launcher.wait_frames(frames + 20)) << "drawing again";
  EXPECT_NE("0,0,0", middleOfTheWindow()) << "the cube shows again";
  EXPECT_EQ("", launcher.stop());
  remove_tree(dir);
}

// Where the cube is in a screenshot of a black screen: the box of what is
// not black, as "width height x y" (1 1 ... where all is black).
struct Shown {
  int width = 0, height = 0, x = 0, y = 0;
};
Shown shownIn(const std::string &png) {
  Shown s;
  std::istringstream(run_command(
      "convert " + png + " -fuzz 5% -trim -format '%w %h %X %Y' info:")) >>
      s.width >> s.height >> s.x >> s.y;
  return s;
}

// As on a Raspberry Pi without a desktop, under cage (a kiosk compositor;
// here on its headless output, 1280 x 720, as the user nobody, for cage
// will not run as root), the launcher's viewer in XWayland: the cube fills
// cage's output, undistorted, and at night (XWayland has no DPMS; wlopm,
// where it is installed, would turn the output off) the screen is black,
// the viewer's window hidden, and the viewer stopped; in the morning it
// fills the output again. Screenshots by grim, through cage's screencopy.
TEST(PhotoFrame, UnderCage) {
  ON_A_SCREEN_OF_ITS_OWN();
  if (run_command(
          "for p in cage grim Xwayland; do command -v $p; done | wc -l") !=
      "3\n")
    GTEST_SKIP() << "needs cage, grim and Xwayland";
  if (!run_command("command -v wlopm").empty())
    GTEST_SKIP() << "wlopm would turn the output off: no screenshot of it";
  std::string dir = make_temp_dir(), xdg = dir + "/xdg";
  mkdir(xdg.c_str(), 0700);
  mkdir((dir + "/state").c_str(), 0700);
  // The programs and the pictures where the user nobody can reach them (a
  // clone in /root can't be).
  for (const char *program : {LAUNCHER_BINARY, VORLIX_BINARY, DECODER_BINARY})
    run_command(std::string("cp ") + program + " " + dir);
  run_command("mkdir " + dir + "/pictures && cp " + PICTURES_DIR + "/b?.jpg " +
              dir + "/pictures");
  run_command("chown -R 65534:65534 " + dir + " && chmod 755 " + dir);
  time_t start = time(nullptr);
  std::string range = timeOfDayIn(8) + "-" + timeOfDayIn(16);
  pid_t cage = fork();
  if (cage == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(126);
    setenv("HOME", dir.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", xdg.c_str(), 1);
    setenv("XDG_STATE_HOME", (dir + "/state").c_str(), 1);
    setenv("WLR_BACKENDS", "headless", 1);
    setenv("WLR_RENDERER", "pixman", 1);
    setenv("WLR_LIBINPUT_NO_DEVICES", "1", 1);
    unsetenv("DISPLAY");
    int log = open((dir + "/cage.log").c_str(), O_WRONLY | O_CREAT, 0600);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    execlp("cage", "cage", "--", (dir + "/vorlix-open").c_str(), "--fullscreen",
           "--screen-off", range.c_str(), (dir + "/pictures").c_str(),
           static_cast<char *>(nullptr));
    _exit(127);
  }
  std::string grim = "XDG_RUNTIME_DIR=" + xdg +
                     " WAYLAND_DISPLAY=wayland-0 grim " + dir + "/shot.png";
  auto shotAt = [&](int second) {
    while (time(nullptr) < start + second)
      usleep(100000);
    EXPECT_EQ("", run_command(grim + " 2>&1"))
        << "at " << second << " s; cage said: " << read_file(dir + "/cage.log");
    return shownIn(dir + "/shot.png");
  };
  auto viewerState = [&] {
    std::string pid = run_command("pgrep -u 65534 -x vorlix");
    return pid.empty() ? '?' : stateOf(std::atoi(pid.c_str()));
  };
  for (int second : {6, 13, 21}) {
    SCOPED_TRACE("at " + std::to_string(second) + " s, the range 8-16 s");
    Shown s = shotAt(second);
    char state = viewerState();
    if (second == 13) {
      EXPECT_EQ('T', state) << "the viewer stopped at night";
      EXPECT_LE(s.height, 1)
          << "black at night: " << s.width << "x" << s.height;
      continue;
    }
    EXPECT_NE('T', state);
    EXPECT_NE('?', state) << "no viewer";
    // Filling 1280 x 720: the cube in its middle, half its height and more;
    // undistorted, about as wide as high (a 480 x 360 window stretched
    // would make it a third wider).
    EXPECT_NEAR(640, s.x + s.width / 2, 60) << s.x << " " << s.width;
    EXPECT_NEAR(360, s.y + s.height / 2, 60) << s.y << " " << s.height;
    EXPECT_GT(s.height, 300);
    EXPECT_GT(s.width, 0.75 * s.height);
    EXPECT_LT(s.width, 1.1 * s.height);
  }
  kill(cage, SIGTERM);
  waitpid(cage, nullptr, 0);
  run_command("pkill -u 65534 -x vorlix; pkill -u 65534 -x Xwayland");
  remove_tree(dir);
}

TEST(BundledPictures, ShowOnEveryFace) {
  ViewerProcess viewer(PICTURES_DIR, true);
  expectSamplesShown(viewer);
}

// The launcher a package installed, named by VORLIX_INSTALLED_LAUNCHER, as
// the menu starts it: on the samples it installed.
TEST(InstalledLauncher, ShowsTheSamplePictures) {
  const char *launcher = std::getenv("VORLIX_INSTALLED_LAUNCHER");
  if (launcher == nullptr)
    GTEST_SKIP() << "VORLIX_INSTALLED_LAUNCHER names no installed launcher";
  ViewerProcess viewer(PICTURES_DIR, true, launcher);
  expectSamplesShown(viewer);
}

} // namespace

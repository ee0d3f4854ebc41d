// The scene in a real GL context (Mesa under X): pictures become textures,
// the render state, the angles each frame, what each frame shows, the
// projection and the keys.
#include <GL/glu.h>
#include <GL/glut.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <optional>
#include <zlib.h>
// After GoogleTest, which names a type None, a macro here.
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoder/libraries/library.h"
#include "picture/viewer/animations/animations.h"
#include "picture/viewer/load_at_start/load_at_start.h"
#include "pixel_probe.h"
#include "scene.h"
#include "test_dng.h"
#include "test_heif.h"
#include "test_pictures.h"
#include "viewer_process.h"

// From the viewer's main.cpp, built into this test with its main renamed.
void reshape(int width, int height);
void keyboard(unsigned char key, int x, int y);

// The last frame the scene showed, read from the back buffer just before the
// real swap; the scene's call to glutSwapBuffers lands here first.
static Image lastFrame;
static float lastModelview[16];

extern "C" void glutSwapBuffers() {
  GLint vp[4];
  glGetIntegerv(GL_VIEWPORT, vp);
  lastFrame.width = vp[2];
  lastFrame.height = vp[3];
  lastFrame.rgba.assign(size_t(vp[2]) * vp[3] * 4, 0);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, vp[2], vp[3], GL_RGBA, GL_UNSIGNED_BYTE,
               lastFrame.rgba.data());
  glGetFloatv(GL_MODELVIEW_MATRIX, lastModelview);
  using Swap = void (*)();
  static Swap real =
      reinterpret_cast<Swap>(dlsym(RTLD_NEXT, "glutSwapBuffers"));
  real();
}

// The GL's largest texture as a test plays it (0: as the GL says): the
// scene's calls to glGetIntegerv land here first.
static GLint playedLargestTexture = 0;

extern "C" void glGetIntegerv(GLenum name, GLint *values) {
  using Get = void (*)(GLenum, GLint *);
  static Get real = reinterpret_cast<Get>(dlsym(RTLD_NEXT, "glGetIntegerv"));
  real(name, values);
  if (name == GL_MAX_TEXTURE_SIZE && playedLargestTexture > 0)
    *values = playedLargestTexture;
}

namespace {

// Each test gets a new window, so a new GL context with default state, and a
// folder of its own as working directory.
class SceneTest : public ::testing::Test {
protected:
  void SetUp() override {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
    glutInitWindowSize(480, 360);
    window = glutCreateWindow("Vorlix scene test");
    dir = make_temp_dir();
    ASSERT_EQ(0, chdir(dir.c_str()));
    xRot = 40.0f;
    yRot = 0.0f;
    zRot = 0.0f;
  }
  void TearDown() override {
    StopAllAnimations();
    glutDestroyWindow(window);
    remove_tree(dir);
  }
  // Draws one frame with the angles it will show (before the spin step).
  void drawAt(float x, float y, float z) {
    xRot = x;
    yRot = y - 0.5f;
    zRot = z;
    display();
  }
  int window = 0;
  std::string dir;
};

void expectRenderStateSet() {
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
  GLint v = 0;
  glGetIntegerv(GL_DEPTH_FUNC, &v);
  EXPECT_EQ(GL_LEQUAL, v);
  glGetIntegerv(GL_SHADE_MODEL, &v);
  EXPECT_EQ(GL_SMOOTH, v);
  glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &v);
  EXPECT_EQ(GL_NICEST, v);
  GLfloat clear[4], depth = 0;
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_FLOAT_EQ(0.0f, clear[0]);
  EXPECT_FLOAT_EQ(0.0f, clear[1]);
  EXPECT_FLOAT_EQ(0.0f, clear[2]);
  EXPECT_FLOAT_EQ(0.5f, clear[3]);
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &depth);
  EXPECT_FLOAT_EQ(1.0f, depth);
  EXPECT_EQ(GL_NO_ERROR, glGetError());
}

void expectLinearTexture(unsigned int name, int width, int height) {
  ASSERT_TRUE(glIsTexture(name)) << "texture " << name;
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w = 0, h = 0, mag = 0, min = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
  EXPECT_EQ(width, w) << "texture " << name;
  EXPECT_EQ(height, h) << "texture " << name;
  EXPECT_EQ(GL_LINEAR, mag) << "texture " << name;
  EXPECT_EQ(GL_LINEAR, min) << "texture " << name;
}

TEST_F(SceneTest, SixPicturesBecomeSixTexturesEachFromItsOwnFile) {
  // Distinct sizes tell which file each texture came from.
  for (int i = 0; i < 6; i++)
    write_quadrant_picture("b" + std::to_string(i + 1) + ".jpg", 8 << i,
                           64 >> i, kFaceColours[i]);
  EXPECT_EQ(1, init());
  for (int i = 0; i < 6; i++) {
    EXPECT_NE(0u, texture[i]) << "face " << i;
    for (int j = 0; j < i; j++)
      EXPECT_NE(texture[j], texture[i]) << "faces " << j << " and " << i;
    expectLinearTexture(texture[i], 8 << i, 64 >> i);
  }
  expectRenderStateSet();
}

TEST_F(SceneTest, MissingPictureLeavesItsFaceEmptyAndTheRestIntact) {
  write_face_pictures(".");
  ASSERT_EQ(0, unlink("b3.jpg"));
  EXPECT_EQ(0, init());
  EXPECT_EQ(0u, texture[2]);
  for (int i : {0, 1, 3, 4, 5})
    expectLinearTexture(texture[i], 64, 64);
  // The render state is set all the same, so the cube still hides its far
  // faces.
  expectRenderStateSet();
}

TEST_F(SceneTest, AllPicturesMissingOrUnreadable) {
  EXPECT_EQ(0, init());
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(0u, texture[i]) << "face " << i;
  expectRenderStateSet();

  // Not pictures at all, or cut short.
  write_bytes("b1.jpg", "");
  write_bytes("b2.jpg", "just some text, not a picture\n");
  write_bytes("b3.jpg", "GIF89a\x01\x00\x01\x00\x00\x00\x00;");
  write_bytes("b4.jpg", std::string("\x89PNG\r\n\x1a\n", 8));
  ASSERT_EQ(0, mkdir("b5.jpg", 0700));
  ASSERT_EQ(0, symlink("/nonexistent/b6.jpg", "b6.jpg"));
  EXPECT_EQ(0, init());
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(0u, texture[i]) << "face " << i;
}

TEST_F(SceneTest, SpinAndWrapOfTheAngles) {
  write_face_pictures(".");
  init();
  reshape(480, 360);

  // The first frame after start-up.
  display();
  EXPECT_EQ(40.0f, xRot);
  EXPECT_EQ(0.5f, yRot);
  EXPECT_EQ(0.0f, zRot);
  EXPECT_EQ("", check_modelview(lastModelview, 40, 0.5, 0));

  // Exactly 360 is drawn as 360; the next step is drawn at 0.
  yRot = 359.5f;
  display();
  EXPECT_EQ(360.0f, yRot);
  display();
  EXPECT_EQ(0.0f, yRot);
  EXPECT_EQ("", check_modelview(lastModelview, 40, 0, 0));

  // The excess is dropped, not carried: 361 becomes 0, not 1.
  yRot = 360.5f;
  display();
  EXPECT_EQ(0.0f, yRot);

  // x and z wrap on their own, leaving the other angles alone.
  xRot = 361.0f;
  zRot = 360.0f;
  yRot = 10.0f;
  display();
  EXPECT_EQ(0.0f, xRot);
  EXPECT_EQ(360.0f, zRot);
  EXPECT_EQ(10.5f, yRot);
  zRot = 360.25f;
  xRot = 100.0f;
  display();
  EXPECT_EQ(0.0f, zRot);
  EXPECT_EQ(100.0f, xRot);
  EXPECT_EQ(11.0f, yRot);

  // 721 frames make one turn of the automatic spin.
  yRot = 0.0f;
  for (int i = 0; i < 720; i++)
    display();
  EXPECT_EQ(360.0f, yRot);
  display();
  EXPECT_EQ(0.0f, yRot);
}

// Screen centre and the centres of the four quarters of the face square
// that faces the eye head-on (the square spans about 78 pixels either side
// of the centre at 480 x 360).
constexpr int cx = 240, cy = 180, q = 39;

void expectQuadrants(const Quadrants &seen, const char *what,
                     int tolerance = 8) {
  SCOPED_TRACE(what);
  EXPECT_EQ("",
            probe_pixel(lastFrame, cx - q, cy + q, seen.topLeft, tolerance));
  EXPECT_EQ("",
            probe_pixel(lastFrame, cx + q, cy + q, seen.topRight, tolerance));
  EXPECT_EQ("",
            probe_pixel(lastFrame, cx - q, cy - q, seen.bottomLeft, tolerance));
  EXPECT_EQ(
      "", probe_pixel(lastFrame, cx + q, cy - q, seen.bottomRight, tolerance));
}

Quadrants turnedHalfway(const Quadrants &p) {
  return {p.bottomRight, p.bottomLeft, p.topRight, p.topLeft};
}

TEST_F(SceneTest, EachFaceShowsItsOwnPictureTheRightWayRound) {
  write_face_pictures(".");
  ASSERT_EQ(1, init());
  reshape(480, 360);
  const auto &c = kFaceColours;

  drawAt(0, 0, 0);
  expectQuadrants(c[0], "front, upright");
  EXPECT_EQ("", probe_pixel(lastFrame, 5, 5, kBlack)) << "background";
  EXPECT_EQ("", probe_pixel(lastFrame, 474, 354, kBlack)) << "background";
  drawAt(0, 180, 0);
  expectQuadrants(c[1], "back, upright when the cube is turned round");
  drawAt(90, 0, 0);
  expectQuadrants(c[2], "top, upright when tipped towards the eye");
  drawAt(270, 0, 0);
  expectQuadrants(turnedHalfway(c[3]),
                  "bottom, upside down when tipped away from the eye");
  drawAt(0, 270, 0);
  expectQuadrants(c[4], "right, upright when the cube is turned left");
  drawAt(0, 90, 0);
  expectQuadrants(c[5], "left, upright when the cube is turned right");

  // z turns the face in the screen's plane: a quarter turn counter-clockwise.
  drawAt(0, 0, 90);
  expectQuadrants(
      {c[0].topRight, c[0].bottomRight, c[0].topLeft, c[0].bottomLeft},
      "front, turned a quarter by z");
}

TEST_F(SceneTest, NearFacesHideFarOnes) {
  write_face_pictures(".");
  ASSERT_EQ(1, init());
  reshape(480, 360);
  // Head-on, the back face and the insides of top and bottom lie behind the
  // front face, and are drawn after it.
  drawAt(0, 0, 0);
  EXPECT_EQ("",
            probe_pixel(lastFrame, cx - 10, cy + 10, kFaceColours[0].topLeft));
  EXPECT_EQ("",
            probe_pixel(lastFrame, cx - 65, cy + 65, kFaceColours[0].topLeft));
  EXPECT_EQ("", probe_pixel(lastFrame, cx + 65, cy - 65,
                            kFaceColours[0].bottomRight));
}

TEST_F(SceneTest, MissingPictureShowsWhiteAndStillHidesTheFarFaces) {
  write_face_pictures(".");
  ASSERT_EQ(0, unlink("b1.jpg"));
  EXPECT_EQ(0, init());
  reshape(480, 360);

  drawAt(0, 0, 0);
  expectQuadrants({kWhite, kWhite, kWhite, kWhite}, "front, missing");
  EXPECT_EQ("", probe_pixel(lastFrame, cx - 65, cy + 65, kWhite));
  EXPECT_EQ("", probe_pixel(lastFrame, 5, 5, kBlack)) << "background";
  drawAt(0, 180, 0);
  expectQuadrants(kFaceColours[1], "back, still textured");
  drawAt(90, 0, 0);
  expectQuadrants(kFaceColours[2], "top, still textured");
}

TEST_F(SceneTest, ProjectionFollowsTheWindowSize) {
  struct Size {
    int w, h;
    double aspect;
    int viewportHeight;
  };
  for (Size s : {Size{480, 360, 480.0 / 360.0, 360}, Size{800, 200, 4.0, 200},
                 Size{123, 457, 123.0 / 457.0, 457}, Size{300, 0, 300.0, 1}}) {
    SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h));
    glMatrixMode(GL_TEXTURE);
    reshape(s.w, s.h);
    GLint vp[4], mode;
    glGetIntegerv(GL_VIEWPORT, vp);
    EXPECT_EQ(0, vp[0]);
    EXPECT_EQ(0, vp[1]);
    EXPECT_EQ(s.w, vp[2]);
    EXPECT_EQ(s.viewportHeight, vp[3]);
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(GL_MODELVIEW, mode);

    // 60 degrees vertically, near 1, far 100.
    double f = 1.0 / std::tan(30.0 * M_PI / 180.0), n = 1.0, fa = 100.0;
    float p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    EXPECT_NEAR(f / s.aspect, p[0], 1e-5);
    EXPECT_NEAR(f, p[5], 1e-5);
    EXPECT_NEAR((fa + n) / (n - fa), p[10], 1e-5);
    EXPECT_NEAR(-1.0, p[11], 1e-6);
    EXPECT_NEAR(2 * fa * n / (n - fa), p[14], 1e-5);
    EXPECT_NEAR(0.0, p[15], 1e-6);
  }
}

TEST_F(SceneTest, CubeStaysSquareInAWideWindow) {
  write_face_pictures(".");
  ASSERT_EQ(1, init());
  glutReshapeWindow(720, 360);
  reshape(720, 360);
  drawAt(0, 0, 0);
  // The front face spans about 78 pixels either side of the centre, across
  // as well as up and down.
  const Rgb tl = kFaceColours[0].topLeft;
  EXPECT_EQ("", probe_pixel(lastFrame, 360 - 74, 180 + 74, tl));
  EXPECT_EQ("", probe_pixel(lastFrame, 360 - 84, 180 + 40, kBlack));
  EXPECT_EQ("", probe_pixel(lastFrame, 360 - 40, 180 + 84, kBlack));
}

TEST_F(SceneTest, KeysTurnByExactlyOneDegree) {
  keyboard('x', 10, 20);
  EXPECT_EQ(41.0f, xRot);
  keyboard('y', 0, 0);
  keyboard('y', 0, 0);
  EXPECT_EQ(2.0f, yRot);
  keyboard('z', 0, 0);
  EXPECT_EQ(1.0f, zRot);

  // Case matters, and no other key turns anything.
  for (unsigned char key : {'X', 'Y', 'Z', 'a', 'q', ' ', '\033', '\r', '0'})
    keyboard(key, 0, 0);
  EXPECT_EQ(41.0f, xRot);
  EXPECT_EQ(2.0f, yRot);
  EXPECT_EQ(1.0f, zRot);

  // Keys do not wrap; the next frame does.
  xRot = 360.0f;
  keyboard('x', 0, 0);
  EXPECT_EQ(361.0f, xRot);
  display();
  EXPECT_EQ(0.0f, xRot);
}

// Every kind of picture a user is likely to have, made by ImageMagick from a
// four-colour picture: whether it shows on the front face, upright, and
// which reader reads it. The README's table of pictures lists these rows.
// Then pictures stored turned, with metadata that says how to show them:
// turned by ImageMagick (a portrait picture, so that the sides swap), the
// EXIF Orientation set by exiftool.
struct Format {
  const char *name;
  const char *reader;  // "SOIL", "libjpeg-turbo", "GdkPixbuf", "giflib" ..., or
                       // "none": the face is white
  const char *convert; // ImageMagick options and output prefix
  Quadrants colours;   // as made, and as they should show
  int tolerance;
  const char *exiftool = "";                       // tags set afterwards
  void (*edit)(const std::string &path) = nullptr; // a change afterwards
  // The profile the stored colours mean (one of writeProfiles'), where
  // they are to show converted; and the screen's profile, where it has one.
  const char *means = nullptr, *screen = nullptr;
  // What shows, where it is not what was made (`colours`): transparency
  // shown over white.
  std::optional<Quadrants> shows = std::nullopt;
};

void PrintTo(const Format &f, std::ostream *os) {
  *os << f.name;
}

const Quadrants kFour = kFaceColours[0]; // red, green, blue, yellow
// The bottom half mid-grey, as libjpeg fills in a picture cut short.
const Quadrants kTopHalf = {
    kFour.topLeft, kFour.topRight, {128, 128, 128}, {128, 128, 128}};
const Quadrants kTwo = {kFour.topLeft, kFour.bottomLeft, kFour.bottomLeft,
                        kFour.topLeft};
const Quadrants kGreys = {
    {40, 40, 40}, {100, 100, 100}, {160, 160, 160}, {220, 220, 220}};

// ImageMagick does not write SVG here; the same four colours by hand.
const char *const kSvgPicture =
    "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
    "<rect width='32' height='32' fill='#f00'/>"
    "<rect x='32' width='32' height='32' fill='#0f0'/>"
    "<rect y='32' width='32' height='32' fill='#00f'/>"
    "<rect x='32' y='32' width='32' height='32' fill='#ff0'/></svg>";

void writeSvg(const std::string &path) {
  write_bytes(path, kSvgPicture);
}
// The same drawing as drawing programs save it: an XML declaration, a
// comment and a document type before the root element, and sized by its
// viewBox alone.
void writeSvgWithProlog(const std::string &path) {
  std::string svg = kSvgPicture;
  svg.replace(svg.find("width='64' height='64'"), 22, "viewBox='0 0 64 64'");
  write_bytes(path, "\xef\xbb\xbf<?xml version='1.0' encoding='UTF-8'?>\n"
                    "<!-- Drawn by hand -->\n<!DOCTYPE svg PUBLIC "
                    "'-//W3C//DTD SVG 1.1//EN' "
                    "'http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd' "
                    "[ <!ENTITY ns 'x'> ]>\n" +
                        svg);
}
// Text in a face and scripts whose fonts were not made ready before the
// sandbox (their files are refused), with a picture within the drawing:
// the decoder lives, and the drawing shows.
void writeSvgWithTextNotMadeReady(const std::string &path) {
  std::string svg = kSvgPicture;
  svg.replace(svg.find("</svg>"), 6,
              "<text x='1' y='4' font-size='3' font-family='DejaVu Sans "
              "Condensed'>Ag \xe6\xbc\xa2\xe5\xad\x97 \xf0\x9f\x98\x80"
              "</text><image width='2' height='2' href='data:image/png;base64,"
              "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8BQ"
              "DwAEhQGAhKmMIQAAAABJRU5ErkJggg=='/></svg>");
  write_bytes(path, svg);
}
// Red and blue as pictures within the drawing, a PNG and a JPEG.
void writeSvgWithPicturesInside(const std::string &path) {
  write_bytes(
      path,
      "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
      "<image width='32' height='32' preserveAspectRatio='none' "
      "href='data:image/png;base64,"
      "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVQI"
      "12P4z8AAAAMBAQAY3Y2wAAAAAElFTkSuQmCC"
      "'/><rect x='32' width='32' height='32' fill='#0f0'/>"
      "<image y='32' width='32' height='32' preserveAspectRatio='none' "
      "href='data:image/jpeg;base64,"
      "/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAEBAQEBAQEBAQEBAQEBAQEB"
      "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB"
      "AQEBAQH/2wBDAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB"
      "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQH/wAARCAAIAAgD"
      "AREAAhEBAxEB/8QAFAABAAAAAAAAAAAAAAAAAAAACv/EABQQAQAAAAAA"
      "AAAAAAAAAAAAAAD/xAAVAQEBAAAAAAAAAAAAAAAAAAAICv/EABQRAQAA"
      "AAAAAAAAAAAAAAAAAAD/2gAMAwEAAhEDEQA/ABzr+BXf/9k="
      "'/><rect x='32' y='32' width='32' height='32' fill='#ff0'/></svg>");
}
// Sized in percentages, without a viewBox: drawn in a square.
void writeSvgInPercent(const std::string &path) {
  write_bytes(path,
              "<svg xmlns='http://www.w3.org/2000/svg' width='100%' "
              "height='100%'><rect width='50%' height='50%' fill='#f00'/>"
              "<rect x='50%' width='50%' height='50%' fill='#0f0'/>"
              "<rect y='50%' width='50%' height='50%' fill='#00f'/>"
              "<rect x='50%' y='50%' width='50%' height='50%' fill='#ff0'/>"
              "</svg>");
}
// Gzipped, as an .svgz is.
void writeSvgz(const std::string &path) {
  write_bytes("plain.svg", kSvgPicture);
  ASSERT_EQ("", run_command("gzip -c plain.svg > " + path + " 2>&1"));
}
// Declaring a billion pixels a side: drawn at the screen's size all the
// same.
void writeSvgDeclaringHugeSize(const std::string &path) {
  std::string svg = kSvgPicture;
  svg.replace(svg.find("width='64' height='64'"), 22,
              "width='1000000000' height='1000000000' viewBox='0 0 64 64'");
  write_bytes(path, svg);
}
// Half transparent red over nothing in its top half: over white.
void writeSvgHalfTransparent(const std::string &path) {
  std::string svg = kSvgPicture;
  svg.replace(svg.find("fill='#f00'"), 11, "fill='#f00' fill-opacity='0.5'");
  svg.replace(svg.find("fill='#0f0'"), 11, "fill='none'");
  write_bytes(path, svg);
}
// Linking to a picture beside it (by name and by file: URL), to one on the
// web, and to style sheets: a magenta picture over the whole drawing and
// magenta rectangles, none of which may show.
void writeSvgWithLinks(const std::string &path) {
  ASSERT_EQ("", run_command("convert -size 64x64 xc:magenta png:linked.png "
                            "&& echo 'rect { fill: #f0f !important }' > "
                            "linked.css 2>&1"));
  char here[4096];
  ASSERT_NE(nullptr, getcwd(here, sizeof here));
  std::string file = std::string("file://") + here + "/linked.png";
  std::string svg = kSvgPicture;
  std::string links =
      "<style>@import url(linked.css); @import url(file://" +
      std::string(here) +
      "/linked.css);</style>"
      "<image width='64' height='64' href='linked.png'/>"
      "<image width='64' height='64' href='" +
      file +
      "'/>"
      "<image width='64' height='64' href='http://127.0.0.1:1/x.png'/></svg>";
  svg.replace(svg.find("</svg>"), 6, links);
  write_bytes(path, svg);
}
// Declaring its entities in a file beside it, which is never read: the
// drawing can't be parsed.
void writeSvgWithExternalEntities(const std::string &path) {
  write_bytes("linked.ent", "<!ENTITY e ''>");
  write_bytes(path, "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY % ext "
                    "SYSTEM 'linked.ent'> %ext;]>" +
                        std::string(kSvgPicture));
}

// Camera RAW photos: a DNG around the JPEG made (its preview), whose raw
// data is another colour, so that what shows tells which was read.
const RawLevels kGreenRaw = {3000, 40000, 3000};
void dngAroundPreview(const std::string &path, int orientation) {
  write_bytes(path, dng_bytes(64, kGreenRaw, read_file(path), orientation));
}
void dngAroundPreview(const std::string &path) {
  dngAroundPreview(path, 1);
}
void dngAroundTurnedPreview(const std::string &path) {
  dngAroundPreview(path, 6);
}
void dngWithoutPreview(const std::string &path) {
  write_bytes(path, dng_bytes(64, kGreenRaw, "", 1));
}
// A preview of 16 x 16 for a mosaic of 256 x 256, as old cameras store a
// thumbnail only: the raw data shows.
void dngWithSmallPreview(const std::string &path) {
  ASSERT_EQ("", run_command("convert four.tga -resize 16x16 jpg:small 2>&1"));
  write_bytes(path, dng_bytes(256, kGreenRaw, read_file("small"), 1));
}
// As LibRaw develops it: balanced as the camera did, brightened to white.
const Rgb kRawShows = {62, 255, 62};
const Quadrants kRawGreen = {kRawShows, kRawShows, kRawShows, kRawShows};

// A BMP with the version 4 header, from ImageMagick's version 5 one: the
// same but for the last four fields.
void makeBmpV4(const std::string &path) {
  std::string bmp = read_file(path);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++)
      bmp[at + i] = char(v >> (8 * i));
  };
  auto get32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--)
      v = v << 8 | static_cast<unsigned char>(bmp[at + i]);
    return v;
  };
  bmp.erase(14 + 108, 16);
  put32(2, get32(2) - 16);
  put32(10, get32(10) - 16);
  put32(14, 108);
  write_bytes(path, bmp);
}

// A HEIC whose pixel-layout property box, overwritten in place, becomes a
// rotation by a quarter turn anticlockwise (HEIF's irot).
void pixiToIrot(const std::string &path) {
  std::string heic = read_file(path);
  size_t at = heic.find("pixi");
  ASSERT_NE(std::string::npos, at);
  size_t size = static_cast<unsigned char>(heic[at - 1]);
  heic.replace(at, 4, "irot");
  heic[at + 4] = 1;
  for (size_t i = at + 5; i < at - 4 + size; i++)
    heic[i] = 0;
  write_bytes(path, heic);
}

// A JPEG whose EXIF segment is cut short after the start of its first
// directory: the directory claims more entries than there are bytes.
void cutExifShort(const std::string &path) {
  std::string jpeg = read_file(path);
  size_t exif = jpeg.find(std::string("Exif\0\0", 6));
  ASSERT_NE(std::string::npos, exif);
  size_t length = exif - 2, kept = 2 + 6 + 8 + 2 + 6;
  size_t old = size_t(static_cast<unsigned char>(jpeg[length])) << 8 |
               static_cast<unsigned char>(jpeg[length + 1]);
  jpeg.erase(length + kept, old - kept);
  jpeg[length] = 0;
  jpeg[length + 1] = char(kept);
  write_bytes(path, jpeg);
}

// A JPEG cut short 60 % into its picture data, as a download stopped
// early: the top half has arrived.
void cutScanShort(const std::string &path) {
  std::string jpeg = read_file(path);
  size_t scan = jpeg.find("\xff\xda");
  ASSERT_NE(std::string::npos, scan);
  write_bytes(path, jpeg.substr(0, scan + (jpeg.size() - scan) * 6 / 10));
}

// The colours `q` mean in profile `from` (sRGB where null; for a CMYK one,
// the inks ImageMagick makes of them), on a screen of profile `to` (sRGB
// where null), as lcms2 converts them.
Quadrants asLcmsShows(Quadrants q, const char *from, const char *to) {
  cmsHPROFILE in =
      from ? cmsOpenProfileFromFile(from, "r") : cmsCreate_sRGBProfile();
  cmsHPROFILE out =
      to ? cmsOpenProfileFromFile(to, "r") : cmsCreate_sRGBProfile();
  bool inks = cmsGetColorSpace(in) == cmsSigCmykData;
  cmsHTRANSFORM t = cmsCreateTransform(in, inks ? TYPE_CMYK_8 : TYPE_RGB_8, out,
                                       TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
  for (Rgb *c : {&q.topLeft, &q.topRight, &q.bottomLeft, &q.bottomRight}) {
    unsigned char cmyk[4], k = 255 - std::max({c->r, c->g, c->b});
    for (int i = 0; i < 3; i++) {
      unsigned char v = i == 0 ? c->r : i == 1 ? c->g : c->b;
      cmyk[i] = k == 255 ? 0 : (255 - v - k) * 255 / (255 - k);
    }
    cmyk[3] = k;
    Rgb rgb = *c;
    cmsDoTransform(t, inks ? cmyk : &rgb.r, &c->r, 1);
  }
  cmsDeleteTransform(t);
  cmsCloseProfile(in);
  cmsCloseProfile(out);
  return q;
}

// Sets the screen's colour profile, as colour managers publish it for
// programs (the root window's _ICC_PROFILE); none where `file` is null.
void setScreenProfile(const char *file) {
  Display *x = glXGetCurrentDisplay();
  Atom atom = XInternAtom(x, "_ICC_PROFILE", False);
  if (file == nullptr) {
    XDeleteProperty(x, DefaultRootWindow(x), atom);
  } else {
    std::string icc = read_file(file);
    XChangeProperty(
        x, DefaultRootWindow(x), atom, XA_CARDINAL, 8, PropModeReplace,
        reinterpret_cast<const unsigned char *>(icc.data()), int(icc.size()));
  }
  XSync(x, False);
}

// Mid colours, that stay apart from each other in every profile.
const Quadrants kMuted = {
    {60, 180, 60}, {200, 70, 50}, {50, 90, 200}, {220, 200, 80}};

// Pictures as other programs write them, from the PNG made: a WebP with
// its profile, a HEIC with its profile, an AVIF that says Display P3 in
// code points (nclx) rather than a profile.
void toWebp(const std::string &path) {
  ASSERT_EQ("", run_command("cwebp -quiet -lossless -metadata icc " + path +
                            " -o made.webp 2>&1 && mv made.webp " + path));
}
void toHeic(const std::string &path) {
  ASSERT_EQ("", run_command("mv " + path + " made.png && heif-enc -L -o " +
                            path + " made.png >/dev/null"));
}
// JPEG XL, from a PNG, and from a JPEG (which cjxl transcodes losslessly,
// keeping its EXIF).
void toJxl(const std::string &path) {
  ASSERT_EQ("", run_command("mv " + path + " made.png && cjxl -q 95 made.png " +
                            path + " >/dev/null 2>&1; rm made.png"));
}
void jpegToJxl(const std::string &path) {
  ASSERT_EQ("", run_command("mv " + path + " made.jpg && cjxl made.jpg " +
                            path + " >/dev/null 2>&1; rm made.jpg"));
}
// ImageMagick's own HEIC and AVIF writers leave out alpha.
void toAvif(const std::string &path) {
  ASSERT_EQ("",
            run_command("avifenc --min 0 --max 0 " + path +
                        " made.avif >/dev/null 2>&1 && mv made.avif " + path));
}
void toAvifSayingP3(const std::string &path) {
  ASSERT_EQ("", run_command("avifenc --ignore-icc --cicp 12/13/6 --min 0 "
                            "--max 0 " +
                            path +
                            " made.avif >/dev/null && "
                            "mv made.avif " +
                            path));
}
// An AVIF (lossless, 8-bit) whose values are the PNG's, coded as its CICP
// says: BT.2020 with PQ or HLG.
void toAvifCoded(const std::string &path, const char *cicp) {
  ASSERT_EQ("", run_command(std::string("avifenc --ignore-icc -l --cicp ") +
                            cicp + " " + path +
                            " made.avif >/dev/null && mv made.avif " + path));
}
// A JPEG XL (lossless) of the PNG's values, coded as PQ or HLG in BT.2020
// (the PNG written without colour chunks, which cjxl would follow).
void toJxlCoded(const std::string &path, const char *space) {
  ASSERT_EQ("", run_command("mv " + path + " made.png && cjxl -d 0 -x " +
                            "color_space=" + space +
                            " --intensity_target=1000 made.png " + path +
                            " >/dev/null 2>&1; rm made.png"));
}
void toJxlPq(const std::string &path) {
  toJxlCoded(path, "RGB_D65_202_Rel_PeQ");
}
void toJxlHlg(const std::string &path) {
  toJxlCoded(path, "RGB_D65_202_Rel_HLG");
}
void toAvifPq(const std::string &path) {
  toAvifCoded(path, "9/16/0");
}
void toAvifHlg(const std::string &path) {
  toAvifCoded(path, "9/18/0");
}

// A JPEG whose profile is damaged: its count of tags absurd.
void damageProfile(const std::string &path) {
  std::string jpeg = read_file(path);
  size_t icc = jpeg.find("ICC_PROFILE");
  ASSERT_NE(std::string::npos, icc);
  jpeg.replace(icc + 14 + 128, 4, "\x7f\xff\xff\xff");
  write_bytes(path, jpeg);
}

// A CMYK JPEG as libjpeg writes one when told not to write Adobe's marker:
// its inks stored plainly, not inverted as Adobe's way has them.
void plainInks(const std::string &path) {
  write_cmyk_jpeg(path, 64, 64, [](int x, int y) {
    return y < 32 ? (x < 32 ? kFour.topLeft : kFour.topRight)
                  : (x < 32 ? kFour.bottomLeft : kFour.bottomRight);
  });
}

// A JPEG tagged with the Display P3 profile padded by a private tag to
// `bytes` in all, split over as many APP2 segments as it takes.
void tagPaddedP3(const std::string &path, uint32_t bytes) {
  cmsHPROFILE p3 = cmsOpenProfileFromFile("p3.icc", "r");
  std::vector<char> padding(bytes - 4096, 0);
  cmsWriteRawTag(p3, cmsTagSignature(0x76726c78), padding.data(),
                 cmsUInt32Number(padding.size())); // 'vrlx'
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(p3, nullptr, &size);
  std::string icc(size, '\0');
  cmsSaveProfileToMem(p3, &icc[0], &size);
  cmsCloseProfile(p3);
  ASSERT_LE(size, bytes);
  icc.resize(bytes, '\0'); // the rest of the padding, after the last tag
  for (int i = 0; i < 4; i++)
    icc[size_t(i)] = char(bytes >> (24 - 8 * i));
  write_bytes("padded.icc", icc);
  ASSERT_EQ("", run_command("exiftool -q -q -overwrite_original "
                            "'-icc_profile<=padded.icc' " +
                            path + " 2>&1"));
}

// The largest profile read is 4 MiB.
void tagP3JustUnder4MiB(const std::string &path) {
  tagPaddedP3(path, (4u << 20) - 16);
}
void tagP3Over4MiB(const std::string &path) {
  tagPaddedP3(path, (4u << 20) + 1);
}

// A PNG chunk of `type` holding `data`, its length and check sum about it.
std::string pngChunk(const std::string &type, const std::string &data) {
  std::string body = type + data, chunk;
  uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef *>(body.data()),
                                uInt(body.size())));
  for (uint32_t v : {uint32_t(data.size()), crc})
    for (int shift : {24, 16, 8, 0})
      chunk += char(v >> shift);
  return chunk.substr(0, 4) + body + chunk.substr(4);
}

// A PNG encoded with a gamma of 1.8 and nothing else to say of its colours
// (gAMA only): ImageMagick's own colour chunks replaced.
void gamma18(const std::string &path) {
  std::string png = read_file(path), out = png.substr(0, 33);
  out += pngChunk("gAMA", std::string("\x00\x00\xd9\x03", 4)); // 1 / 1.8
  for (size_t at = 33; at + 12 <= png.size();) {
    size_t length = size_t(static_cast<unsigned char>(png[at])) << 24 |
                    size_t(static_cast<unsigned char>(png[at + 1])) << 16 |
                    size_t(static_cast<unsigned char>(png[at + 2])) << 8 |
                    static_cast<unsigned char>(png[at + 3]);
    std::string type = png.substr(at + 4, 4);
    if (type != "gAMA" && type != "cHRM" && type != "sRGB" && type != "iCCP")
      out += png.substr(at, 12 + length);
    at += 12 + length;
  }
  write_bytes(path, out);
}

// Transparency, as a browser shows it on its white page.
const Quadrants kFourClear = {kFour.topLeft, kFour.topRight, kFour.bottomLeft,
                              kWhite}; // the yellow quarter transparent
const Quadrants kGreysClear = {kGreys.topLeft, kGreys.topRight,
                               kGreys.bottomLeft, kWhite};
const Quadrants kAllRed = {kFour.topLeft, kFour.topLeft, kFour.topLeft,
                           kFour.topLeft};
// Yellow at half alpha, over white: (255, 255, 255 * 127 / 255).
const Quadrants kFourHalfClear = {
    kFour.topLeft, kFour.topRight, kFour.bottomLeft, {255, 255, 127}};

// A grey or RGB PNG (8-bit) that names one colour transparent, in a tRNS
// chunk right after its header, as PNG optimisers and APNG assemblers
// write them: 16-bit samples, `n` of them.
// Where `afterData`, after its picture data (before IEND), as the PNG rules
// do not allow.
void nameTransparent(const std::string &path, int n, const unsigned char *c,
                     bool afterData = false) {
  std::string png = read_file(path), samples;
  for (int i = 0; i < n; i++)
    samples += std::string{'\0', char(c[i])};
  png.insert(afterData ? png.size() - 12 : 33, pngChunk("tRNS", samples));
  write_bytes(path, png);
}
const unsigned char kYellow[] = {255, 255, 0};
void yellowTransparent(const std::string &path) {
  nameTransparent(path, 3, kYellow);
}
// Broken ones: SOIL refuses them, and libpng, which GdkPixbuf reads PNGs
// with, leaves them out. Two of them: SOIL takes the last.
void transparentTooShort(const std::string &path) {
  nameTransparent(path, 2, kYellow);
}
void transparentAfterData(const std::string &path) {
  nameTransparent(path, 3, kYellow, true);
}
void transparentTwice(const std::string &path) {
  const unsigned char red[] = {255, 0, 0};
  nameTransparent(path, 3, red);
  nameTransparent(path, 3, kYellow); // the first, now
}
void grey220Transparent(const std::string &path) {
  const unsigned char grey[] = {220};
  nameTransparent(path, 1, grey);
}
// A colour the picture does not have.
void absentColourTransparent(const std::string &path) {
  const unsigned char absent[] = {1, 2, 3};
  nameTransparent(path, 3, absent);
}
void absentGreyTransparent(const std::string &path) {
  const unsigned char absent[] = {7};
  nameTransparent(path, 1, absent);
}

// HDR: the picture's values taken as coded with PQ or HLG in BT.2020's
// primaries, as a cICP chunk right after the header says.
void codedAs(const std::string &path, char transfer) {
  std::string png = read_file(path);
  png.insert(33, pngChunk("cICP", std::string{9, transfer, 0, 1}));
  write_bytes(path, png);
}
void codedAsPq(const std::string &path) {
  codedAs(path, 16);
}
void codedAsHlg(const std::string &path) {
  codedAs(path, 18);
}
// PQ, its brightest pixel 300 cd/m² as its content light level says (in
// units of 0.0001 cd/m²): that is the peak mapped to the screen's white.
void codedAsPqUpTo300(const std::string &path) {
  codedAs(path, 16);
  std::string png = read_file(path);
  png.insert(
      33, pngChunk("cLLI", std::string("\x00\x2d\xc6\xc0\x00\x0f\x42\x40", 8)));
  write_bytes(path, png);
}
// A scene of 1,000, 400, 203 (SDR white) and 100 cd/m² greys, coded with
// PQ, and with HLG (75 % its SDR white); and how it shows on an SDR screen:
// its white near white, highlights in order, 100 cd/m² near its SDR level
// (186 of 255).
const Quadrants kHdrGreysPq = {
    {192, 192, 192}, {166, 166, 166}, {148, 148, 148}, {130, 130, 130}};
const Quadrants kHdrGreysHlg = {
    {255, 255, 255}, {219, 219, 219}, {191, 191, 191}, {161, 161, 161}};
// A gain-map photo as phones write them (Ultra HDR, ISO 21496-1): the SDR
// picture first, saying in its XMP that it has a gain map, and in an MPF
// segment where the second picture, the gain map (here a flat grey), lies
// after it. On an SDR screen its SDR picture is the one to show.
std::string be16(unsigned v) {
  return {char(v >> 8), char(v)};
}
std::string be32(unsigned v) {
  return be16(v >> 16) + be16(v & 0xffff);
}
std::string jpegSegment(unsigned char marker, const std::string &data) {
  return std::string{'\xff', char(marker)} + be16(unsigned(data.size() + 2)) +
         data;
}
void withGainMap(const std::string &path) {
  ASSERT_EQ("", convert("-size 32x32 xc:'rgb(128,128,128)' -quality 90 "
                        "jpg:gainmap.jpg"));
  std::string base = read_file(path), gain = read_file("gainmap.jpg");
  const std::string xmp =
      std::string("http://ns.adobe.com/xap/1.0/") + '\0' +
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3."
      "org/1999/02/22-rdf-syntax-ns#'><rdf:Description xmlns:hdrgm='http://ns"
      ".adobe.com/hdr-gain-map/1.0/' hdrgm:Version='1.0'/></rdf:RDF>"
      "</x:xmpmeta>";
  // MPF: a big-endian TIFF header, an index of two pictures, their entries
  // (the second's offset from the TIFF header, filled in below).
  std::string mp = std::string("MM\0*") + be32(8) + be16(3) + be16(0xb000) +
                   be16(7) + be32(4) + "0100" + be16(0xb001) + be16(4) +
                   be32(1) + be32(2) + be16(0xb002) + be16(7) + be32(32) +
                   be32(50) + be32(0);
  std::string head = base.substr(0, 2) + jpegSegment(0xe1, xmp) +
                     jpegSegment(0xe2, "MPF" + std::string(1, '\0') + mp +
                                           std::string(32, '\0'));
  size_t tiff = head.size() - 32 - mp.size(); // where "MM" stands
  size_t total = head.size() + base.size() - 2;
  std::string entries = be32(0x030000) + be32(unsigned(total)) + be32(0) +
                        be32(0) + be32(0) + be32(unsigned(gain.size())) +
                        be32(unsigned(total - tiff)) + be32(0);
  head.replace(head.size() - 32, 32, entries);
  write_bytes(path, head + base.substr(2) + gain);
}

// 300 and 150 cd/m², the picture's peak 300: 300 shows as white.
const Quadrants kHdrUpTo300 = {
    {159, 159, 159}, {159, 159, 159}, {140, 140, 140}, {140, 140, 140}};
const Quadrants kHdrUpTo300Shown = {
    {255, 255, 255}, {255, 255, 255}, {222, 222, 222}, {222, 222, 222}};
const Quadrants kHdrGreysShown = {
    {255, 255, 255}, {250, 250, 250}, {229, 229, 229}, {186, 186, 186}};

// A GL whose largest texture is smaller than the screen's rule would keep a
// picture (a Raspberry Pi's is 4096, an older one's 2048; played here as
// 1024, below what this screen keeps): the picture comes no larger than a
// texture can be, its proportions kept; with the GL's own limit it comes
// whole.
TEST_F(SceneTest, PictureComesNoLargerThanTheGlsLargestTexture) {
  write_face_pictures(".");
  write_jpeg("b1.jpg", 1800, 1200, [](int, int) { return Rgb{40, 120, 200}; });
  for (GLint played : {1024, 0}) {
    SCOPED_TRACE("largest texture " + std::to_string(played));
    playedLargestTexture = played;
    ASSERT_EQ(1, init());
    playedLargestTexture = 0;
    glBindTexture(GL_TEXTURE_2D, texture[0]);
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    if (played > 0) {
      EXPECT_LE(std::max(w, h), played) << w << " x " << h;
      EXPECT_GE(std::max(w, h), played / 2) << w << " x " << h;
    } else {
      EXPECT_EQ(1800, w);
    }
    EXPECT_NEAR(3.0 * h, 2.0 * w, 6) << "proportions, " << w << " x " << h;
    glDeleteTextures(6, texture);
  }
}

// An HDR sky: a 16-bit PQ gradient from 100 to 203 cd/m² across 256
// pixels, in a JPEG XL, a 16-bit PNG with its cICP and a 12-bit AVIF. Its
// light is mapped from all its bits, so the face shows it as smoothly as an
// 8-bit rendering can (no step of more than a level from a texel to the
// next); mapped from 8 bits, its 19 codes would show as bands 2 to 3
// levels apart.
class HdrSkyTest : public SceneTest,
                   public ::testing::WithParamInterface<const char *> {};

TEST_P(HdrSkyTest, KeepsItsBitsUntilMapped) {
  ASSERT_EQ("", run_command("convert -size 16x256 'gradient:gray(58.06%)-"
                            "gray(50.81%)' -rotate 90 -depth 16 -define "
                            "png:exclude-chunks=all PNG48:sky.png 2>&1"));
  std::string made = GetParam();
  if (made == "png") {
    ASSERT_EQ(0, rename("sky.png", "sky"));
    codedAsPq("sky");
  } else if (made == "heif") { // the same 10-bit codes, 581 to 520
    if (!write_coded_heif_10bit("sky", 256, 16, 16, [](int x, int) {
          uint16_t v = uint16_t(
              std::lround(0.5806 * 1023 - (0.5806 - 0.5081) * 1023 * x / 255));
          return Rgb16{v, v, v};
        }))
      GTEST_SKIP() << "no 10-bit HEVC encoder for libheif";
  } else {
    ASSERT_EQ("", run_command("(" + made + ") >/dev/null 2>&1 || echo failed"));
  }
  const char *files[] = {"sky"};
  unsigned int name = 0;
  LoadTexturesAtStart(files, &name, 1);
  ASSERT_NE(0u, name);
  glBindTexture(GL_TEXTURE_2D, name);
  GLint w = 0, h = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  ASSERT_EQ(256, w);
  std::vector<unsigned char> texels(size_t(w) * size_t(h) * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glDeleteTextures(1, &name);
  const unsigned char *row = &texels[size_t(h / 2) * size_t(w) * 4];
  int largest = 0;
  for (int x = 1; x < w; x++)
    largest = std::max(largest, std::abs(row[4 * x] - row[4 * (x - 1)]));
  EXPECT_LE(largest, 1) << "steps from texel to texel";
  EXPECT_NEAR(186, std::min(row[0], row[4 * (w - 1)]), 4) << "100 cd/m2";
  EXPECT_NEAR(229, std::max(row[0], row[4 * (w - 1)]), 4) << "203 cd/m2";
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, HdrSkyTest,
    ::testing::Values(
        "cjxl -d 0 -x color_space=RGB_D65_202_Rel_PeQ "
        "--intensity_target=1000 sky.png sky.jxl && mv sky.jxl sky",
        "png", "heif",
        "avifenc -d 12 -y 444 --min 0 --max 0 --cicp 9/16/9 "
        "sky.png sky.avif && mv sky.avif sky"));

// An HEIF of the picture's quadrants, coded PQ or HLG as its colour box
// says (written through libheif's API); skipped where there is no HEVC
// encoder to write it.
void toHeifCoded(const std::string &path, int transfer) {
  Quadrants q = transfer == 16 ? kHdrGreysPq : kHdrGreysHlg;
  if (!write_coded_heif(path, q, transfer))
    GTEST_SKIP() << "no HEVC encoder for libheif";
}
void toHeifPq(const std::string &path) {
  toHeifCoded(path, 16);
}
void toHeifHlg(const std::string &path) {
  toHeifCoded(path, 18);
}
// Clips of the picture, one frame long, made by ffmpeg with these options:
// their first frame is their still.
void toClip(const std::string &path, const std::string &options,
            const char *container = "mp4") {
  ASSERT_EQ("", run_command("ffmpeg -v error -y -i " + path + " " + options +
                            " made." + container + " && mv made." + container +
                            " " + path));
}
void toH264(const std::string &path) {
  toClip(path, "-c:v libx264 -qp 0 -pix_fmt yuv444p");
}
// Stored turned, as a phone stores a portrait clip, and standing up by its
// display matrix, written when remuxing: by FFmpeg 7's -display_rotation
// (Debian 13), else by 5.1's rotate metadata (Debian 12), both turning
// `anticlockwise` degrees to show it; its rotation checked with ffprobe.
void toH264Turned(const std::string &path, const std::string &anticlockwise,
                  const std::string &rotate) {
  toH264(path);
  ASSERT_EQ("", run_command("mv " + path +
                            " made.mp4 && (ffmpeg -v quiet -y "
                            "-display_rotation:v:0 " +
                            anticlockwise +
                            " -i made.mp4 -c copy made.mov || ffmpeg -v error "
                            "-y -i made.mp4 -c copy -metadata:s:v:0 rotate=" +
                            rotate + " made.mov) && mv made.mov " + path));
  ASSERT_EQ("rotation=" + anticlockwise + "\n",
            run_command("ffprobe -v error -show_streams " + path +
                        " | grep -m1 rotation="))
      << "its display matrix";
}
void toH264Turned90(const std::string &path) {
  toH264Turned(path, "90", "90");
}
// As an iPhone's portrait clip: turned a quarter clockwise to be shown.
void toH264Turned270(const std::string &path) {
  toH264Turned(path, "-90", "270");
}
// The frames converted by swscale with this matrix and range, and tagged
// with these colours (by setparams: FFmpeg 7 tags what it encodes from the
// frames, not from its options), then encoded.
std::string taggedAs(const std::string &matrix, const std::string &range,
                     const std::string &primaries, const std::string &transfer,
                     const std::string &space) {
  return "-vf scale=out_color_matrix=" + matrix + ":out_range=" + range +
         ",setparams=color_primaries=" + primaries + ":color_trc=" + transfer +
         ":colorspace=" + space + ":range=" + range + " ";
}
// Tagged BT.709, limited range.
void toH264Bt709(const std::string &path) {
  toClip(path, taggedAs("bt709", "tv", "bt709", "bt709", "bt709") +
                   "-c:v libx264 -qp 0 -pix_fmt yuv444p");
}
// Full range and BT.601, as a camera's may be, said by the stream (not by
// a pixel format of JPEG's range).
void toH264FullRange(const std::string &path) {
  toClip(path, taggedAs("bt601", "pc", "smpte170m", "bt709", "smpte170m") +
                   "-c:v libx264 -qp 0 -pix_fmt yuv444p");
}
// HDR, 10-bit HEVC in BT.2020: PQ, as HDR10 cameras film, and HLG, as an
// iPhone films by default.
void toHevcHdr(const std::string &path, const std::string &transfer) {
  toClip(path,
         taggedAs("bt2020", "tv", "bt2020", transfer, "bt2020nc") +
             "-c:v libx265 -x265-params lossless=1:log-level=error "
             "-pix_fmt yuv444p10le",
         "mov");
}
void toHevcPq(const std::string &path) {
  toHevcHdr(path, "smpte2084");
}
void toHevcHlg(const std::string &path) {
  toHevcHdr(path, "arib-std-b67");
}

class PictureFormatTest : public SceneTest,
                          public ::testing::WithParamInterface<Format> {};

TEST_P(PictureFormatTest, ShowsOnItsFaceOrStaysWhite) {
  const Format &f = GetParam();
  write_face_pictures(".");
  ASSERT_EQ(0, unlink("b1.jpg"));
  write_quadrant_picture("four.tga", 64, 64, f.colours);
  write_profiles(".");
  // Made under a name without an extension, where exiftool goes by content.
  if (*f.convert) {
    ASSERT_EQ("", run_command(std::string("convert tga:four.tga ") + f.convert +
                              "made 2>&1"));
  }
  if (*f.exiftool) {
    ASSERT_EQ("",
              run_command(std::string("exiftool -q -q -overwrite_original ") +
                          f.exiftool + " made 2>&1"));
  }
  rename("made", "b1.jpg");
  if (f.edit)
    f.edit("b1.jpg");
  if (IsSkipped())
    return;
  setScreenProfile(f.screen);
  init();
  setScreenProfile(nullptr);
  reshape(480, 360);
  drawAt(0, 0, 0);
  bool shows = std::string(f.reader) != "none";
  Quadrants made = f.shows ? *f.shows : f.colours;
  Quadrants expected =
      f.means || f.screen ? asLcmsShows(made, f.means, f.screen) : made;
  expectQuadrants(shows ? expected : Quadrants{kWhite, kWhite, kWhite, kWhite},
                  f.reader, f.tolerance);

  // Loaded once more on its own, to ask which reader read it.
  const char *files[] = {"b1.jpg"};
  unsigned int name = 0;
  int reader = kNoReader;
  LoadTexturesAtStart(files, &name, 1, &reader);
  glDeleteTextures(1, &name);
  EXPECT_STREQ(f.reader,
               reader == kNoReader ? "none" : kLibraries[reader]->name);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Pictures, PictureFormatTest, ::testing::Values(
    Format{"BaselineJpeg", "SOIL", "-interlace none -quality 95 jpg:", kFour, 24},
    Format{"JpegWithAGainMap", "SOIL", "-interlace none -quality 95 jpg:", kFour, 24, "", withGainMap},
    Format{"BaselineJpegGrey", "SOIL", "-colorspace Gray -interlace none jpg:", kGreys, 12},
    Format{"PngHdrPq", "libpng", "-define png:bit-depth=8 PNG24:", kHdrGreysPq, 6, "", codedAsPq, nullptr, nullptr, kHdrGreysShown},
    Format{"PngHdrHlg", "libpng", "-define png:bit-depth=8 PNG24:", kHdrGreysHlg, 8, "", codedAsHlg, nullptr, nullptr, kHdrGreysShown},
    Format{"PngHdrPqWithItsContentLightLevel", "libpng", "-define png:bit-depth=8 PNG24:", kHdrUpTo300, 4, "", codedAsPqUpTo300, nullptr, nullptr, kHdrUpTo300Shown},
    Format{"PngHdrPqByItsProfile", "libpng", "-profile pq2020.icc -define png:bit-depth=8 PNG24:", kHdrGreysPq, 6, "", nullptr, nullptr, nullptr, kHdrGreysShown},
    Format{"PngHdrHlgByItsProfile", "libpng", "-profile hlg2020.icc -define png:bit-depth=8 PNG24:", kHdrGreysHlg, 8, "", nullptr, nullptr, nullptr, kHdrGreysShown},
    // Made smaller to be shown before its light is mapped: mapped as large.
    Format{"PngHdrPqLargerThanTheScreen", "libpng", "-filter point -resize 4000x3000! -define png:bit-depth=8 PNG24:", kHdrGreysPq, 6, "", codedAsPq, nullptr, nullptr, kHdrGreysShown},
    Format{"PngHdrPqGrey", "libpng", "-colorspace Gray -depth 8 -define png:color-type=0 png:", kHdrGreysPq, 6, "", codedAsPq, nullptr, nullptr, kHdrGreysShown},
    Format{"ProgressiveJpeg", "libjpeg-turbo", "-interlace JPEG -quality 95 jpg:", kFour, 24},
    Format{"BaselineJpegCutShort", "libjpeg-turbo", "-interlace none -quality 95 jpg:", kTopHalf, 24, "", cutScanShort},
    Format{"CmykJpeg", "libjpeg-turbo", "-colorspace CMYK -quality 95 jpg:", kFour, 40},
    Format{"CmykJpegPlainInksWithoutAdobeMarker", "libjpeg-turbo", "jpg:", kFour, 24, "", plainInks},
    Format{"Png8BitRgb", "SOIL", "-define png:color-type=2 png24:", kFour, 0},
    Format{"Png8BitRgba", "SOIL", "-alpha on png32:", kFour, 0},
    Format{"Png8BitPalette", "SOIL", "png8:", kFour, 0},
    Format{"Png16Bit", "libpng", "-define png:bit-depth=16 png48:", kFour, 0},
    Format{"PngInterlaced", "libpng", "-interlace PNG png24:", kFour, 0},
    Format{"Png4BitPalette", "libpng", "-define png:bit-depth=4 png8:", kFour, 0},
    Format{"Png2BitPalette", "libpng", "-define png:bit-depth=2 png8:", kFour, 0},
    Format{"Png1BitPalette", "libpng", "-define png:bit-depth=1 png8:", kTwo, 0},
    Format{"Gif", "giflib"   , "gif:", kFour, 0},
    Format{"GifAnimatedStartsOnItsFirstFrame", "giflib", "\\( +clone -fill white -colorize 100 \\) -loop 0 gif:", kFour, 0},
    Format{"Bmp3", "SOIL", "bmp3:", kFour, 0},
    Format{"BmpVersion4", "SOIL", "bmp:", kFour, 0, "", makeBmpV4},
    Format{"BmpVersion5", "GdkPixbuf", "bmp:", kFour, 0},
    Format{"Tga", "SOIL", "tga:", kFour, 0},
    Format{"Psd8Bit", "SOIL", "psd:", kFour, 0},
    Format{"Psd16Bit", "none", "-depth 16 psd:", kFour, 0},
    Format{"Hdr", "SOIL", "hdr:", kFour, 8},
    Format{"Dds", "SOIL", "dds:", kFour, 8},
    Format{"Tiff", "GdkPixbuf", "-compress None tiff:", kFour, 0},
    Format{"TiffLzw", "GdkPixbuf", "-compress LZW tiff:", kFour, 0},
    Format{"TiffJpeg", "GdkPixbuf", "-compress JPEG -quality 95 tiff:", kFour, 24},
    Format{"WebpLossy", "GdkPixbuf", "-quality 95 webp:", kFour, 24},
    Format{"WebpLossless", "GdkPixbuf", "-define webp:lossless=true webp:", kFour, 0},
    Format{"Heic", "GdkPixbuf", "-quality 95 heic:", kFour, 40},
    Format{"Avif", "GdkPixbuf", "-quality 95 avif:", kFour, 40},
    Format{"Svg", "librsvg", "", kFour, 0, "", writeSvg},
    Format{"SvgWithPrologSizedByViewBox", "librsvg", "", kFour, 0, "", writeSvgWithProlog},
    Format{"SvgInPercentWithoutViewBox", "librsvg", "", kFour, 0, "", writeSvgInPercent},
    Format{"Svgz", "librsvg", "", kFour, 0, "", writeSvgz},
    Format{"SvgDeclaringHugeSize", "librsvg", "", kFour, 0, "", writeSvgDeclaringHugeSize},
    Format{"SvgHalfTransparentOverWhite", "librsvg", "", kFour, 1, "", writeSvgHalfTransparent, nullptr, nullptr, Quadrants{{255, 128, 128}, kWhite, kFour.bottomLeft, kFour.bottomRight}},
    Format{"SvgWithPicturesInside", "librsvg", "", kFour, 4, "", writeSvgWithPicturesInside},
    Format{"SvgTextNotMadeReady", "librsvg", "", kFour, 0, "", writeSvgWithTextNotMadeReady},
    Format{"SvgLinkedFilesNeverRead", "librsvg", "", kFour, 0, "", writeSvgWithLinks},
    Format{"SvgExternalEntitiesNeverRead", "none", "", kFour, 0, "", writeSvgWithExternalEntities},
    Format{"DngWithPreview", "LibRaw", "-interlace none -quality 95 jpg:", kFour, 24, "", dngAroundPreview},
    Format{"DngTurnedWithPreview", "LibRaw", "-resize 48x64! -rotate 270 -interlace none -quality 95 jpg:", kFour, 24, "", dngAroundTurnedPreview},
    Format{"DngWithoutPreview", "LibRaw", "", kFour, 40, "", dngWithoutPreview, nullptr, nullptr, kRawGreen},
    Format{"DngWithSmallPreview", "LibRaw", "", kFour, 40, "", dngWithSmallPreview, nullptr, nullptr, kRawGreen},
    // Transparent, shown over white: the yellow quarter, or the grey 220.
    Format{"PngRgbTransparentColour", "SOIL", "-define png:color-type=2 png24:", kFour, 0, "", yellowTransparent, nullptr, nullptr, kFourClear},
    Format{"PngRgbTransparentColourFlatRed", "SOIL", "-resize 97x96! -define png:color-type=2 png24:", kAllRed, 0, "", yellowTransparent},
    Format{"PngRgbTransparentColourTooShort", "libpng", "-define png:color-type=2 png24:", kFour, 0, "", transparentTooShort},
    Format{"PngRgbTransparentColourAfterData", "libpng", "-define png:color-type=2 png24:", kFour, 0, "", transparentAfterData},
    Format{"PngRgbTransparentColourTwice", "SOIL", "-define png:color-type=2 png24:", kFour, 0, "", transparentTwice, nullptr, nullptr, Quadrants{kWhite, kFour.topRight, kFour.bottomLeft, kFour.bottomRight}},
    Format{"PngRgbaWithATransparentColour", "libpng", "-alpha on png32:", kFour, 0, "", yellowTransparent},
    Format{"PngGreyTransparentColour", "SOIL", "-colorspace Gray -depth 8 -define png:color-type=0 png:", kGreys, 0, "", grey220Transparent, nullptr, nullptr, kGreysClear},
    Format{"PngGreyAlpha", "SOIL", "-transparent '#dcdcdc' -colorspace Gray -depth 8 -define png:color-type=4 png:", kGreys, 0, "", nullptr, nullptr, nullptr, kGreysClear},
    Format{"Png8BitRgbaTransparent", "SOIL", "-transparent yellow png32:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"Png8BitRgbaHalfTransparent", "SOIL", "-alpha set -channel RGBA -fill '#ffff0080' -opaque yellow png32:", kFour, 1, "", nullptr, nullptr, nullptr, kFourHalfClear},
    Format{"Png8BitPaletteTransparent", "SOIL", "-transparent yellow png8:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"Png16BitRgbaTransparent", "libpng", "-transparent yellow -define png:bit-depth=16 png64:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"Png16BitGreyAlpha", "libpng", "-transparent '#dcdcdc' -colorspace Gray -define png:bit-depth=16 -define png:color-type=4 png:", kGreys, 1, "", nullptr, nullptr, nullptr, kGreysClear},
    Format{"GifTransparent", "giflib", "-transparent yellow gif:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"WebpLosslessTransparent", "GdkPixbuf", "-transparent yellow -define webp:lossless=true webp:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"WebpLossyTransparent", "GdkPixbuf", "-transparent yellow -quality 95 webp:", kFour, 24, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"TiffTransparent", "GdkPixbuf", "-transparent yellow -compress None tiff:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"HeicTransparent", "GdkPixbuf", "-transparent yellow png32:", kFour, 40, "", toHeic, nullptr, nullptr, kFourClear},
    Format{"AvifTransparent", "GdkPixbuf", "-transparent yellow png32:", kFour, 40, "", toAvif, nullptr, nullptr, kFourClear},
    Format{"JpegXlTransparent", "libjxl", "-transparent yellow png32:", kFour, 8, "", toJxl, nullptr, nullptr, kFourClear},
    Format{"TgaTransparent", "SOIL", "-transparent yellow tga:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"TgaAlphaAllZeroIsUnused", "SOIL", "-alpha set -channel A -evaluate set 0 +channel tga:", kFour, 0},
    Format{"BmpVersion4Transparent", "SOIL", "-transparent yellow bmp:", kFour, 0, "", makeBmpV4, nullptr, nullptr, kFourClear},
    Format{"BmpVersion5Transparent", "GdkPixbuf", "-transparent yellow bmp:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"DdsTransparent", "SOIL", "-transparent yellow dds:", kFour, 8, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"PsdTransparent", "SOIL", "-transparent yellow psd:", kFour, 0, "", nullptr, nullptr, nullptr, kFourClear},
    Format{"JpegOrientation1", "SOIL", "-resize 48x64! -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=1 -n"},
    Format{"JpegOrientation2", "SOIL", "-resize 48x64! -flop -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=2 -n"},
    Format{"JpegOrientation3", "SOIL", "-resize 48x64! -rotate 180 -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=3 -n"},
    Format{"JpegOrientation4", "SOIL", "-resize 48x64! -flip -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=4 -n"},
    Format{"JpegOrientation5", "SOIL", "-resize 48x64! -transpose -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=5 -n"},
    Format{"JpegOrientation6", "SOIL", "-resize 48x64! -rotate 270 -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=6 -n"},
    Format{"JpegOrientation7", "SOIL", "-resize 48x64! -transverse -interlace none -quality 95 jpg:", kFour, 24, "-ExifByteOrder=II -Orientation=7 -n"},
    Format{"JpegOrientation8", "SOIL", "-resize 48x64! -rotate 90 -interlace none -quality 95 jpg:", kFour, 24, "-ExifByteOrder=II -Orientation=8 -n"},
    Format{"ProgressiveJpegOrientation6", "libjpeg-turbo", "-resize 48x64! -rotate 270 -interlace JPEG -quality 95 jpg:", kFour, 24, "-Orientation=6 -n"},
    Format{"TiffOrientation3", "GdkPixbuf", "-resize 48x64! -rotate 180 -compress None tiff:", kFour, 0, "-Orientation=3 -n"},
    Format{"TiffOrientation6", "GdkPixbuf", "-resize 48x64! -rotate 270 -compress None tiff:", kFour, 0, "-Orientation=6 -n"},
    Format{"TiffOrientation8", "GdkPixbuf", "-resize 48x64! -rotate 90 -compress None tiff:", kFour, 0, "-Orientation=8 -n"},
    Format{"PngOrientation6", "SOIL", "-resize 48x64! -rotate 270 -define png:color-type=2 png24:", kFour, 0, "-Orientation=6 -n"},
    Format{"WebpOrientation6", "GdkPixbuf", "-resize 48x64! -rotate 270 -define webp:lossless=true webp:", kFour, 0, "-Orientation=6 -n"},
    Format{"HeicTurnedByIrot", "GdkPixbuf", "-resize 48x64! -rotate 90 -quality 95 heic:", kFour, 40, "", pixiToIrot},
    Format{"HeicExifOrientationIgnored", "GdkPixbuf", "-resize 48x64! -quality 95 heic:", kFour, 40, "-Orientation=6 -n"},
    Format{"JpegExifCutShortShowsAsStored", "SOIL", "-resize 48x64! -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=6 -n", cutExifShort},
    Format{"JpegXl", "libjxl", "png24:", kFour, 8, "", toJxl},
    Format{"ClipH264", "FFmpeg", "png24:", kFour, 6, "", toH264},
    Format{"ClipH264TurnedAnticlockwise", "FFmpeg", "-resize 48x64! -rotate 90 png24:", kFour, 6, "", toH264Turned90},
    Format{"ClipH264TurnedClockwise", "FFmpeg", "-resize 48x64! -rotate 270 png24:", kFour, 6, "", toH264Turned270},
    Format{"ClipH264Bt709LimitedRange", "FFmpeg", "png24:", kFour, 6, "", toH264Bt709},
    Format{"ClipH264FullRange", "FFmpeg", "png24:", kGreys, 6, "", toH264FullRange},
    Format{"ClipHevcHdrHlg", "FFmpeg", "png24:", kHdrGreysHlg, 8, "", toHevcHlg, nullptr, nullptr, kHdrGreysShown},
    Format{"ClipHevcHdrPq", "FFmpeg", "png24:", kHdrGreysPq, 8, "", toHevcPq, nullptr, nullptr, kHdrGreysShown},
    Format{"JpegXlFromJpegWithOrientation6", "libjxl", "-resize 48x64! -rotate 270 -interlace none -quality 95 jpg:", kFour, 24, "-Orientation=6 -n", jpegToJxl},
    Format{"JpegDisplayP3", "SOIL", "-profile p3.icc -interlace none -quality 95 jpg:", kMuted, 6, "", nullptr, "p3.icc"},
    Format{"ProgressiveJpegDisplayP3", "libjpeg-turbo", "-profile p3.icc -interlace JPEG -quality 95 jpg:", kMuted, 6, "", nullptr, "p3.icc"},
    Format{"PngDisplayP3", "SOIL", "-profile p3.icc png24:", kMuted, 2, "", nullptr, "p3.icc"},
    Format{"DngPreviewDisplayP3", "LibRaw", "-profile p3.icc -interlace none -quality 95 jpg:", kMuted, 6, "", dngAroundPreview, "p3.icc"},
    Format{"WebpDisplayP3", "GdkPixbuf", "-profile p3.icc png24:", kMuted, 2, "", toWebp, "p3.icc"},
    Format{"TiffDisplayP3", "GdkPixbuf", "-profile p3.icc -compress None tiff:", kMuted, 2, "", nullptr, "p3.icc"},
    Format{"HeicDisplayP3", "GdkPixbuf", "-profile p3.icc png24:", kMuted, 4, "", toHeic, "p3.icc"},
    Format{"AvifSayingDisplayP3", "GdkPixbuf", "png24:", kMuted, 4, "", toAvifSayingP3, "p3.icc"},
    Format{"HeifHdrPq", "libheif", "png24:", kHdrGreysPq, 8, "", toHeifPq, nullptr, nullptr, kHdrGreysShown},
    Format{"HeifHdrHlg", "libheif", "png24:", kHdrGreysHlg, 8, "", toHeifHlg, nullptr, nullptr, kHdrGreysShown},
    Format{"AvifHdrPq", "libavif", "png24:", kHdrGreysPq, 6, "", toAvifPq, nullptr, nullptr, kHdrGreysShown},
    Format{"AvifHdrHlg", "libavif", "png24:", kHdrGreysHlg, 8, "", toAvifHlg, nullptr, nullptr, kHdrGreysShown},
    Format{"JxlHdrPq", "libjxl", "-define png:exclude-chunks=all -define png:bit-depth=8 PNG24:", kHdrGreysPq, 6, "", toJxlPq, nullptr, nullptr, kHdrGreysShown},
    Format{"JxlHdrPqLargerThanTheScreen", "libjxl", "-filter point -resize 3001x2001! -define png:exclude-chunks=all -define png:bit-depth=8 PNG24:", kHdrGreysPq, 6, "", toJxlPq, nullptr, nullptr, kHdrGreysShown},
    Format{"JxlHdrHlg", "libjxl", "-define png:exclude-chunks=all -define png:bit-depth=8 PNG24:", kHdrGreysHlg, 8, "", toJxlHlg, nullptr, nullptr, kHdrGreysShown},
    Format{"JpegAdobeRgb", "SOIL", "-profile adobe.icc -interlace none -quality 95 jpg:", kMuted, 6, "", nullptr, "adobe.icc"},
    Format{"PngSrgbTaggedAsStored", "SOIL", "-profile srgb.icc png24:", kMuted, 0},
    Format{"JpegProfileJustUnder4MiB", "SOIL", "-interlace none -quality 95 jpg:", kMuted, 6, "", tagP3JustUnder4MiB, "p3.icc"},
    Format{"JpegProfileOver4MiBAsStored", "SOIL", "-interlace none -quality 95 jpg:", kMuted, 6, "", tagP3Over4MiB},
    Format{"JpegDamagedProfileAsStored", "SOIL", "-profile p3.icc -interlace none -quality 95 jpg:", kMuted, 6, "", damageProfile},
    Format{"CmykJpegWithItsProfile", "libjpeg-turbo", "-colorspace CMYK -profile cmyk.icc -quality 95 jpg:", kMuted, 8, "", nullptr, "cmyk.icc"},
    Format{"PngGamma18", "SOIL", "png24:", kMuted, 2, "", gamma18, "gamma18.icc"},
    Format{"UntaggedOnADisplayP3Screen", "SOIL", "png24:", kMuted, 2, "", nullptr, nullptr, "p3.icc"}),
    [](const ::testing::TestParamInfo<Format> &info) { return info.param.name; });
// clang-format on

// Pictures whose rows are not a multiple of 4 bytes (three widths in four
// for RGB: phone screenshots, cropped pictures), in every channel count
// each reader gives: every texel read back from the texture, as the picture
// has it. Two colours in two halves, swapped between the top and the bottom
// half, so that a row read from the wrong place shows.
struct RowCase {
  const char *name;
  const char *reader;
  int channels;        // of the texture the reader's pixels become
  const char *convert; // ImageMagick options and output prefix
  int tolerance;
  void (*edit)(const std::string &path) = nullptr; // a change afterwards
};

void PrintTo(const RowCase &c, std::ostream *os) {
  *os << c.name;
}

class RowWidthTest : public SceneTest,
                     public ::testing::WithParamInterface<RowCase> {};

// How many texels of the bound w x h texture differ from the two halves of
// the picture it was made from, `width` x `height` (`factor` times as large,
// a texel the average of factor x factor pixels), and the first that does.
// A texel made from pixels of both halves is left out. GL hands a grey
// texel back as red.
std::string compareHalves(int w, int h, int width, int height, int factor,
                          Rgb a, Rgb b, bool grey, int tolerance) {
  int left = (width + 1) / 2, bottom = height / 2; // in the picture
  std::vector<unsigned char> texels(size_t(w) * size_t(h) * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  std::string first;
  long wrong = 0;
  for (int y = 0; y < h; y++) {
    for (int x = 0; x < w; x++) {
      bool top = y * factor >= bottom, inLeft = (x + 1) * factor <= left;
      if (top != ((y + 1) * factor > bottom) || inLeft != (x * factor < left))
        continue;
      Rgb e = inLeft == top ? a : b;
      unsigned char *t = &texels[(size_t(y) * w + x) * 4];
      if (grey)
        t[1] = t[2] = t[0];
      if (std::abs(t[0] - e.r) <= tolerance &&
          std::abs(t[1] - e.g) <= tolerance &&
          std::abs(t[2] - e.b) <= tolerance)
        continue;
      if (wrong++ == 0)
        first = "texel (" + std::to_string(x) + ", " + std::to_string(y) +
                "): expected (" + std::to_string(e.r) + ", " +
                std::to_string(e.g) + ", " + std::to_string(e.b) +
                "), found (" + std::to_string(t[0]) + ", " +
                std::to_string(t[1]) + ", " + std::to_string(t[2]) + ")";
    }
  }
  return wrong ? std::to_string(wrong) + " texels wrong, first " + first : "";
}

TEST_P(RowWidthTest, EveryTexelAsThePictureHasIt) {
  const RowCase &c = GetParam();
  bool grey = c.channels <= 2;
  Rgb a = grey ? Rgb{60, 60, 60} : Rgb{200, 40, 40};
  Rgb b = grey ? Rgb{190, 190, 190} : Rgb{40, 170, 220};
  auto hex = [](Rgb c) {
    char s[8];
    std::snprintf(s, sizeof s, "#%02x%02x%02x", c.r, c.g, c.b);
    return std::string(s);
  };
  const int widths[] = {1, 2, 3, 5, 33, 1179};
  std::string paths[6];
  const char *files[6];
  for (int i = 0; i < 6; i++) {
    // An iPhone 14 Pro screenshot's size for the widest.
    int w = widths[i], h = w == 1179 ? 2556 : 9;
    auto rectangle = [](int x0, int y0, int x1, int y1) {
      return " -draw 'rectangle " + std::to_string(x0) + "," +
             std::to_string(y0) + " " + std::to_string(x1) + "," +
             std::to_string(y1) + "'";
    };
    int l = (w + 1) / 2, t = (h + 1) / 2;
    std::string draw = rectangle(0, 0, l - 1, t - 1);
    if (l < w)
      draw += rectangle(l, t, w - 1, h - 1);
    paths[i] = "w" + std::to_string(w);
    files[i] = paths[i].c_str();
    ASSERT_EQ("", run_command("convert -size " + std::to_string(w) + "x" +
                              std::to_string(h) + " xc:'" + hex(b) +
                              "' -fill '" + hex(a) + "'" + draw + " " +
                              c.convert + paths[i] + " 2>&1"));
    if (c.edit)
      c.edit(paths[i]);
  }
  unsigned int names[6];
  int readBy[6];
  LoadTexturesAtStart(files, names, 6, readBy);
  for (int i = 0; i < 6; i++) {
    SCOPED_TRACE("width " + std::to_string(widths[i]));
    ASSERT_NE(0u, names[i]);
    glBindTexture(GL_TEXTURE_2D, names[i]);
    GLint w = 0, h = 0, luminance = 0, alpha = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    // The screenshot comes smaller, by a whole factor, on a screen less than
    // 1420 pixels high, and libjpeg-turbo decodes a JPEG smaller.
    int factor = i == 5 ? int(std::lround(2556.0 / h)) : 1;
    bool jpeg = std::strstr(c.convert, "jpg:") != nullptr;
    EXPECT_STREQ(factor > 1 && jpeg ? "libjpeg-turbo" : c.reader,
                 kLibraries[readBy[i]]->name);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_LUMINANCE_SIZE,
                             &luminance);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_ALPHA_SIZE, &alpha);
    EXPECT_EQ(c.channels, (grey ? 1 : 3) + (alpha > 0)) << "channels";
    EXPECT_EQ(grey, luminance > 0);
    ASSERT_EQ((widths[i] + factor - 1) / factor, w) << "factor " << factor;
    EXPECT_EQ("", compareHalves(w, h, widths[i], i == 5 ? 2556 : 9, factor, a,
                                b, grey, c.tolerance));
  }
  glDeleteTextures(6, names);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Pictures, RowWidthTest, ::testing::Values(
    RowCase{"SoilGrey", "SOIL", 1, "-colorspace Gray -depth 8 -define png:color-type=0 png:", 0},
    // Pictures with alpha come without it, shown over white.
    RowCase{"SoilGreyAlpha", "SOIL", 1, "-colorspace Gray -depth 8 -alpha on -define png:color-type=4 png:", 0},
    RowCase{"SoilGreyTransparentColour", "SOIL", 1, "-colorspace Gray -depth 8 -define png:color-type=0 png:", 0, absentGreyTransparent},
    RowCase{"SoilRgb", "SOIL", 3, "-define png:color-type=2 png24:", 0},
    RowCase{"SoilRgbTransparentColour", "SOIL", 3, "-define png:color-type=2 png24:", 0, absentColourTransparent},
    RowCase{"SoilRgba", "SOIL", 3, "-alpha on png32:", 0},
    RowCase{"SoilRgbJpeg", "SOIL", 3, "-sampling-factor 1x1 -quality 100 -interlace none jpg:", 12},
    RowCase{"LibjpegGrey", "libjpeg-turbo", 1, "-colorspace Gray -quality 100 -interlace JPEG jpg:", 4},
    RowCase{"LibjpegRgb", "libjpeg-turbo", 3, "-sampling-factor 1x1 -quality 100 -interlace JPEG jpg:", 12},
    RowCase{"PixbufRgb", "GdkPixbuf", 3, "-compress none tiff:", 0},
    RowCase{"PixbufRgba", "GdkPixbuf", 3, "-alpha on -compress none tiff:", 0},
    RowCase{"LibpngRgb16", "libpng", 3, "-define png:bit-depth=16 png48:", 0},
    RowCase{"LibpngRgba16", "libpng", 3, "-alpha on -define png:bit-depth=16 png64:", 0}),
    [](const ::testing::TestParamInfo<RowCase> &info) { return info.param.name; });
// clang-format on

// Pictures many times larger than their faces, as cameras, phones and
// scanners make them: each comes smaller, by a whole factor, as long as its
// longer side keeps 0.9 of the screen's height (so that a face in a window
// as large as the screen still shows every texel it can); one longer than
// the window is high has mipmaps. Each shows its fine detail as its
// average, not as noise or moire, and its parts where they belong. Run on
// ./test's screen and on a 7680 x 4320 one (tests/CMakeLists.txt).
struct LargeCase {
  const char *name;
  int width, height; // as stored
  std::function<Rgb(int x, int y)> colour;
  bool png;             // else a JPEG
  const char *exiftool; // tags set afterwards
  Quadrants shows;      // on the front face, upright
  int faces = 1;        // or 6: one file behind all six names
  // A picture one pixel across blends with the black border of its clamped
  // texture (SOIL's parameters) all over.
  int tolerance = 16;
};

void PrintTo(const LargeCase &c, std::ostream *os) {
  *os << c.name;
}

class LargePictureTest : public SceneTest,
                         public ::testing::WithParamInterface<LargeCase> {};

const Rgb kRed = {220, 40, 40}, kBlue = {40, 60, 220}, kGrey = {128, 128, 128};

// The bound texture's levels: 1, or its whole mipmap chain.
int levelsOfBound() {
  int levels = 0;
  for (GLint w = 1; w > 0 && levels < 32; levels++)
    glGetTexLevelParameteriv(GL_TEXTURE_2D, levels + 1, GL_TEXTURE_WIDTH, &w);
  return levels;
}

TEST_P(LargePictureTest, ComesAsLargeAsTheScreenShowsAndLooksItself) {
  const LargeCase &c = GetParam();
  write_face_pictures(".");
  std::string file = c.faces == 6 ? "picture" : "b1.jpg";
  (c.png ? write_png : write_jpeg)(file, c.width, c.height, c.colour);
  if (*c.exiftool) {
    ASSERT_EQ("", run_command(std::string("exiftool -q -q ") +
                              "-overwrite_original " + c.exiftool + " " + file +
                              " 2>&1"));
  }
  for (int i = 1; c.faces == 6 && i <= 6; i++) {
    std::string face = "b" + std::to_string(i) + ".jpg";
    ASSERT_EQ(0, unlink(face.c_str()));
    ASSERT_EQ(0, symlink(file.c_str(), face.c_str()));
  }
  ASSERT_EQ(1, init());
  reshape(480, 360);
  drawAt(0, 0, 0);
  // Over the face's inner part, each quarter its colour.
  const Quadrants &q = c.shows;
  const Rgb quarters[] = {q.bottomLeft, q.bottomRight, q.topLeft, q.topRight};
  for (int k = 0; k < 4; k++)
    EXPECT_EQ("", probe_rect(lastFrame, k % 2 ? cx + 14 : cx - 64,
                             k < 2 ? cy - 64 : cy + 14, 50, 50, quarters[k],
                             c.tolerance));

  Display *x = glXGetCurrentDisplay();
  int keep = DisplayHeight(x, DefaultScreen(x)) * 9 / 10;
  bool turned = std::strstr(c.exiftool, "Orientation=6") != nullptr;
  int shownWidth = turned ? c.height : c.width;
  int shownHeight = turned ? c.width : c.height;
  for (int face = 0; face < c.faces; face++) {
    SCOPED_TRACE("face " + std::to_string(face));
    glBindTexture(GL_TEXTURE_2D, texture[face]);
    GLint w = 0, h = 0, min = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    if (std::max(c.width, c.height) >= 2 * keep) {
      EXPECT_GE(std::max(w, h), keep) << w << " x " << h;
      EXPECT_LE(std::max(w, h), 2 * keep) << w << " x " << h;
      // Its proportions kept, within a texel.
      EXPECT_NEAR(double(shownWidth) / shownHeight * h, w, 1.0);
    } else {
      EXPECT_EQ(shownWidth, w);
      EXPECT_EQ(shownHeight, h);
    }
    bool mipmaps = std::max(w, h) > 360;
    EXPECT_EQ(mipmaps ? int(std::log2(std::max(w, h))) + 1 : 1,
              levelsOfBound());
    EXPECT_EQ(mipmaps ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR, min);
  }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Pictures, LargePictureTest, ::testing::Values(
    // A page of small print, in effect: one-pixel lines.
    LargeCase{"Stripes4000x3000", 4000, 3000, [](int x, int) { return x % 2 ? kWhite : kBlack; }, false, "", {kGrey, kGrey, kGrey, kGrey}},
    LargeCase{"ChecksOddWidth4031x3023", 4031, 3023, [](int x, int y) { return (x + y) % 2 ? kWhite : kBlack; }, true, "", {kGrey, kGrey, kGrey, kGrey}},
    LargeCase{"SmallerThanTheWindowAsItIs", 301, 201, [](int x, int) { return x < 150 ? kRed : kBlue; }, true, "", {kRed, kBlue, kRed, kBlue}},
    LargeCase{"Strip1x60000", 1, 60000, [](int, int y) { return y < 30000 ? kRed : kBlue; }, true, "", {kRed, kRed, kBlue, kBlue}, 1, 100},
    // A portrait photo stored on its side: its stored bottom shows on the left.
    LargeCase{"Orientation6", 4031, 3023, [](int, int y) { return y < 1511 ? kBlue : kRed; }, false, "-Orientation=6 -n", {kRed, kBlue, kRed, kBlue}},
    LargeCase{"OnAllSixFaces", 4000, 3000, [](int x, int) { return x < 2000 ? kRed : kBlue; }, false, "", {kRed, kBlue, kRed, kBlue}, 6}),
    [](const ::testing::TestParamInfo<LargeCase> &info) { return info.param.name; });
// clang-format on

TEST_F(SceneTest, PictureThatSoilReadsStillGoesThroughSoil) {
  // A grey baseline JPEG: SOIL keeps its one channel and makes a luminance
  // texture; GdkPixbuf or libjpeg-turbo would have made it RGB.
  write_face_pictures(".");
  write_quadrant_picture("four.tga", 64, 64, kGreys);
  ASSERT_EQ("", run_command("convert tga:four.tga -colorspace Gray "
                            "-interlace none jpg:b1.jpg 2>&1"));
  ASSERT_EQ(1, init());
  glBindTexture(GL_TEXTURE_2D, texture[0]);
  GLint luminance = 0, red = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_LUMINANCE_SIZE,
                           &luminance);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_RED_SIZE, &red);
  EXPECT_EQ(8, luminance);
  EXPECT_EQ(0, red);
}

} // namespace

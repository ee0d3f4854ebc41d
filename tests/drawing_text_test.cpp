// Text in SVG drawings, drawn in the decoder's sandbox with the fonts made
// ready before it: the glyphs librsvg draws outside any sandbox
// (rsvg-convert), in the three families and their four faces.
#include <GL/glut.h>
#include <SOIL/SOIL.h>
#include <cstdlib>
#include <gtest/gtest.h>

#include "picture/decoder/libraries/library.h"
#include "picture/viewer/load_at_start/load_at_start.h"
#include "test_pictures.h"
#include "viewer_process.h"

namespace {

const char kText[] =
    "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='400'>"
    "<g font-size='20'>"
    "<text x='4' y='30' font-family='sans-serif'>Sans <tspan "
    "font-weight='bold'>Bold</tspan> <tspan font-style='italic'>Italic</tspan>"
    " <tspan font-weight='bold' font-style='italic'>Both</tspan></text>"
    "<text x='4' y='70' font-family='serif'>Serif <tspan "
    "font-weight='bold'>Bold</tspan> <tspan font-style='italic'>Italic</tspan>"
    " <tspan font-weight='bold' font-style='italic'>Both</tspan></text>"
    "<text x='4' y='110' font-family='monospace'>Mono <tspan "
    "font-weight='bold'>Bold</tspan> <tspan font-style='italic'>Italic</tspan>"
    " <tspan font-weight='bold' font-style='italic'>Both</tspan></text>"
    "</g></svg>";

class DrawingTextTest : public ::testing::Test {
protected:
  void SetUp() override {
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
    window = glutCreateWindow("Vorlix drawing test");
    dir = make_temp_dir();
  }
  void TearDown() override {
    glutDestroyWindow(window);
    remove_tree(dir);
  }
  int window = 0;
  std::string dir;
};

TEST_F(DrawingTextTest, GlyphsAsDrawnOutsideTheSandbox) {
  std::string path = dir + "/text.svg";
  write_bytes(path, kText);
  const char *files[] = {path.c_str()};
  unsigned int texture = 0;
  int reader = kNoReader;
  LoadTexturesAtStart(files, &texture, 1, &reader);
  ASSERT_NE(0u, texture);
  EXPECT_STREQ("librsvg", kLibraries[reader]->name);
  GLint w = 0, h = 0;
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
  // Drawn at the screen's size (0.9 of its height), not at its own 400.
  EXPECT_GT(w, 400);
  std::vector<unsigned char> drawn(size_t(w) * h * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, drawn.data());
  glDeleteTextures(1, &texture);

  std::string outside = dir + "/outside.png";
  ASSERT_EQ("", run_command("rsvg-convert -b white -w " + std::to_string(w) +
                            " -h " + std::to_string(h) + " -o " + outside +
                            " " + path + " 2>&1"));
  int ow = 0, oh = 0, channels = 0;
  unsigned char *expected =
      SOIL_load_image(outside.c_str(), &ow, &oh, &channels, SOIL_LOAD_RGB);
  ASSERT_NE(nullptr, expected);
  ASSERT_EQ(w, ow);
  ASSERT_EQ(h, oh);
  // The texture's rows are bottom first.
  long ink = 0, differ = 0;
  for (int y = 0; y < h; y++)
    for (int x = 0; x < w; x++) {
      const unsigned char *e = expected + (size_t(y) * w + x) * 3;
      const unsigned char *d = &drawn[(size_t(h - 1 - y) * w + x) * 3];
      ink += e[0] < 128;
      differ += std::abs(e[0] - d[0]) > 64 || std::abs(e[1] - d[1]) > 64 ||
                std::abs(e[2] - d[2]) > 64;
    }
  SOIL_free_image_data(expected);
  EXPECT_GT(ink, long(w) * h / 100) << "rsvg-convert drew the text";
  EXPECT_LT(differ, ink / 20)
      << differ << " pixels differ of " << ink << " inked";
}

} // namespace

// The first frame of the viewer as it would look with every screen pixel
// the average of the pictures over that pixel's footprint: drawn by the
// viewer's own frame, at 16 times the window's size across and down, from
// the pictures as large as they are, sampled at their nearest texel (256
// samples a pixel), then averaged down. Run in a folder holding b1.jpg ...
// b6.jpg; writes the 480 x 360 frame, bottom row first, as RGBA, where A is
// 255 for the faces' inner pixels (all of whose samples fall on one face)
// and 0 elsewhere.
//
//   area_reference OUT_FILE
#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glu.h>
#include <GL/glut.h>
#include <SOIL/SOIL.h>
#include <cstdio>
#include <vector>

#include "scene.h"

namespace {

constexpr int kWidth = 480, kHeight = 360, kSamples = 16;
constexpr int kBigWidth = kWidth * kSamples, kBigHeight = kHeight * kSamples;

// The first frame (x 40, y 0.5) drawn into the bound framebuffer.
std::vector<unsigned char> firstFrame() {
  xRot = 40.0f;
  yRot = 0.0f;
  zRot = 0.0f;
  display();
  std::vector<unsigned char> pixels(size_t(kBigWidth) * kBigHeight * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, kBigWidth, kBigHeight, GL_RGBA, GL_UNSIGNED_BYTE,
               pixels.data());
  return pixels;
}

void nearest(unsigned name) {
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
}

} // namespace

int main(int argc, char **argv) {
  glutInit(&argc, argv);
  if (argc < 2)
    return 2;
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(kWidth, kHeight);
  glutCreateWindow("Vorlix area reference");
  init(); // the viewer's render state; its textures are replaced below
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const char *files[6] = {"b1.jpg", "b2.jpg", "b3.jpg",
                          "b4.jpg", "b5.jpg", "b6.jpg"};
  for (int i = 0; i < 6; i++) {
    texture[i] = SOIL_load_OGL_texture(files[i], SOIL_LOAD_AUTO,
                                       SOIL_CREATE_NEW_ID, SOIL_FLAG_INVERT_Y);
    nearest(texture[i]);
  }

  GLuint framebuffer, colour, depth;
  glGenFramebuffers(1, &framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glGenRenderbuffers(1, &colour);
  glBindRenderbuffer(GL_RENDERBUFFER, colour);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kBigWidth, kBigHeight);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0,
                            GL_RENDERBUFFER, colour);
  glGenRenderbuffers(1, &depth);
  glBindRenderbuffer(GL_RENDERBUFFER, depth);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, kBigWidth,
                        kBigHeight);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT,
                            GL_RENDERBUFFER, depth);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    return 1;
  glViewport(0, 0, kBigWidth, kBigHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(60.0, double(kWidth) / kHeight, 1.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  std::vector<unsigned char> pictures = firstFrame();

  // Which face each sample falls on: each face a colour of its own.
  for (int i = 0; i < 6; i++) {
    unsigned char id[3] = {static_cast<unsigned char>(40 * (i + 1)), 0, 0};
    glBindTexture(GL_TEXTURE_2D, texture[i]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 1, 1, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 id);
  }
  std::vector<unsigned char> faces = firstFrame();

  std::vector<unsigned char> out(size_t(kWidth) * kHeight * 4);
  for (int y = 0; y < kHeight; y++)
    for (int x = 0; x < kWidth; x++) {
      unsigned sums[3] = {0, 0, 0};
      bool inner = true;
      unsigned char face = 0;
      for (int sy = 0; sy < kSamples; sy++)
        for (int sx = 0; sx < kSamples; sx++) {
          size_t at = (size_t(y * kSamples + sy) * kBigWidth +
                       size_t(x * kSamples + sx)) *
                      4;
          for (int c = 0; c < 3; c++)
            sums[c] += pictures[at + size_t(c)];
          if (sx == 0 && sy == 0)
            face = faces[at];
          inner = inner && faces[at] == face && face != 0;
        }
      unsigned char *o = &out[(size_t(y) * kWidth + size_t(x)) * 4];
      for (int c = 0; c < 3; c++)
        o[c] = static_cast<unsigned char>((sums[c] + kSamples * kSamples / 2) /
                                          (kSamples * kSamples));
      o[3] = inner ? 255 : 0;
    }
  FILE *f = std::fopen(argv[1], "wb");
  bool written =
      f != nullptr && std::fwrite(out.data(), 1, out.size(), f) == out.size();
  if (f != nullptr)
    std::fclose(f);
  return written ? 0 : 1;
}

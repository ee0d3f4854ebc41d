#include "scene.h"

#include <GL/glut.h>

#include "picture/viewer/animations/animations.h"
#include "picture/viewer/load_at_start/load_at_start.h"
#include "picture/viewer/textures/textures.h"
#include "show/show.h"

float xRot = 40.0f;
float yRot = 0.0f;
float zRot = 0.0f;

unsigned int texture[6];

namespace {

const char *const faceFiles[6] = {"b1.jpg", "b2.jpg", "b3.jpg",
                                  "b4.jpg", "b5.jpg", "b6.jpg"};

// One corner of a face: texture coordinate, then position.
struct Corner {
  float s, t;
  float x, y, z;
};

// Front, back, top, bottom, right, left. Each face starts at its own corner
// and maps the picture its own way; the pictures are loaded flipped, so t = 0
// is the bottom edge of a picture as it is normally viewed.
// clang-format off
const Corner faces[6][4] = {
    {{0, 0, -1, -1, 1}, {1, 0, 1, -1, 1}, {1, 1, 1, 1, 1}, {0, 1, -1, 1, 1}},
    {{1, 0, -1, -1, -1}, {1, 1, -1, 1, -1}, {0, 1, 1, 1, -1}, {0, 0, 1, -1, -1}},
    {{0, 1, -1, 1, -1}, {0, 0, -1, 1, 1}, {1, 0, 1, 1, 1}, {1, 1, 1, 1, -1}},
    {{1, 1, -1, -1, -1}, {0, 1, 1, -1, -1}, {0, 0, 1, -1, 1}, {1, 0, -1, -1, 1}},
    {{1, 0, 1, -1, -1}, {1, 1, 1, 1, -1}, {0, 1, 1, 1, 1}, {0, 0, 1, -1, 1}},
    {{0, 0, -1, -1, -1}, {1, 0, -1, -1, 1}, {1, 1, -1, 1, 1}, {0, 1, -1, 1, -1}},
};
// clang-format on

// Tries all six pictures; a face whose picture fails keeps entry 0.
int LoadGLTextures() {
  LoadTexturesAtStart(faceFiles, texture, 6);
  int status = 1;
  for (int i = 0; i < 6; i++) {
    if (texture[i] == 0)
      status = 0;
    glBindTexture(GL_TEXTURE_2D, texture[i]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Linear, or trilinear for a picture many times larger than its face,
    // which has mipmaps.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, MinifyingFilter());
  }
  return status;
}

void wrap(float &angle) {
  if (angle > 360.0f)
    angle = 0.0f;
}

} // namespace

int init() {
  glEnable(GL_TEXTURE_2D);
  int status = LoadGLTextures();

  // Set the render state even when a picture failed: without the depth test
  // the far faces would paint over the near ones.
  glShadeModel(GL_SMOOTH);
  glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  return status;
}

void display() {
  yRot += 0.5f;
  wrap(yRot);
  wrap(xRot);
  wrap(zRot);
  // With a list of more pictures, faces turned away take the next ones.
  ShowNextPictures(texture, xRot, yRot, zRot);
  // Animated pictures in view show the frames that are due.
  AdvanceAnimations(texture, xRot, yRot, zRot);

  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -5.0f);
  glRotatef(xRot, 1.0f, 0.0f, 0.0f);
  glRotatef(yRot, 0.0f, 1.0f, 0.0f);
  glRotatef(zRot, 0.0f, 0.0f, 1.0f);

  for (int face = 0; face < 6; face++) {
    glBindTexture(GL_TEXTURE_2D, texture[face]);
    glBegin(GL_QUADS);
    for (const Corner &c : faces[face]) {
      glTexCoord2f(c.s, c.t);
      glVertex3f(c.x, c.y, c.z);
    }
    glEnd();
  }

  glutSwapBuffers();
}

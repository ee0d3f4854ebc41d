// The plain program the viewer is measured against: the viewer itself, its
// start-up, render state and frame, but with its pictures loaded the plain
// way, by SOIL_load_OGL_texture in the viewer's own process, each as large
// as it is and without mipmaps (the scene's calls then keep GL_LINEAR both
// ways). It stands in for the viewer's load at start at link time.
#include <GL/gl.h>
#include <SOIL/SOIL.h>

#include "picture/viewer/load_at_start/load_at_start.h"

void LoadTexturesAtStart(const char *const files[], unsigned int textures[],
                         int count, int *) {
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // SOIL hands GL tightly packed rows
  for (int i = 0; i < count; i++)
    textures[i] = SOIL_load_OGL_texture(files[i], SOIL_LOAD_AUTO,
                                        SOIL_CREATE_NEW_ID, SOIL_FLAG_INVERT_Y);
}

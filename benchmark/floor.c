/* The floor for the viewer's frame rate and start-up: the same window (mode,
 * depth buffer, size, position) that only clears and swaps, as fast as the
 * toolkit lets it. Built a second time with DRAW_ONE_QUAD, it also draws one
 * textured, depth-tested quad (with no picture), which shows what the first
 * textured draw costs the software renderer (it compiles its shaders then).
 * Built with LOAD_SIX_PICTURES, it first loads b1.jpg ... b6.jpg from the
 * working directory with SOIL, one after the other, in the process itself:
 * the plain way to load the viewer's pictures. */
#include <GL/glut.h>
#ifdef LOAD_SIX_PICTURES
#include <SOIL/SOIL.h>
#endif

static void display(void) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
#ifdef DRAW_ONE_QUAD
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex3f(-0.5f, -0.5f, 0);
  glTexCoord2f(1, 0);
  glVertex3f(0.5f, -0.5f, 0);
  glTexCoord2f(1, 1);
  glVertex3f(0.5f, 0.5f, 0);
  glTexCoord2f(0, 1);
  glVertex3f(-0.5f, 0.5f, 0);
  glEnd();
#endif
  glutSwapBuffers();
}

int main(int argc, char **argv) {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(480, 360);
  glutInitWindowPosition(100, 100);
  glutCreateWindow("Vorlix floor");
#ifdef LOAD_SIX_PICTURES
  /* SOIL hands GL tightly packed rows. */
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  const char *files[6] = {"b1.jpg", "b2.jpg", "b3.jpg",
                          "b4.jpg", "b5.jpg", "b6.jpg"};
  for (int i = 0; i < 6; i++)
    SOIL_load_OGL_texture(files[i], SOIL_LOAD_AUTO, SOIL_CREATE_NEW_ID,
                          SOIL_FLAG_INVERT_Y);
#endif
#ifdef DRAW_ONE_QUAD
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_DEPTH_TEST);
#endif
  glutDisplayFunc(display);
  glutIdleFunc(display);
  glutMainLoop();
  return 0;
}

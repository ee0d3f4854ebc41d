/* The floor for the viewer's frame rate and start-up: the same window (mode,
 * depth buffer, size, position) that only clears and swaps, as fast as the
 * toolkit lets it. Built a second time with DRAW_ONE_QUAD, it also draws one
 * textured, depth-tested quad (with no picture), which shows what the first
 * textured draw costs the software renderer (it compiles its shaders then). */
#include <GL/glut.h>

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
#ifdef DRAW_ONE_QUAD
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_DEPTH_TEST);
#endif
  glutDisplayFunc(display);
  glutIdleFunc(display);
  glutMainLoop();
  return 0;
}

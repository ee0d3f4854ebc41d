/* The floor for the viewer's frame rate and start-up: the same window (mode,
 * depth buffer, size, position) that only clears and swaps, as fast as the
 * toolkit lets it. */
#include <GL/glut.h>

static void display(void) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glutSwapBuffers();
}

int main(int argc, char **argv) {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(480, 360);
  glutInitWindowPosition(100, 100);
  glutCreateWindow("Vorlix floor");
  glutDisplayFunc(display);
  glutIdleFunc(display);
  glutMainLoop();
  return 0;
}

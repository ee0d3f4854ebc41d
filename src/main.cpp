// Vorlix: a cube with a picture on each face, spinning in a 480 x 360 window.
// Keys "x", "y" and "z" turn it one more degree about that axis.
#include <GL/glu.h>
#include <GL/glut.h>

#include "scene.h"

// Keeps the viewport and an undistorted 60 degree projection matched to the
// window; leaves the model-view matrix current for the frame.
void reshape(int width, int height) {
  if (height == 0)
    height = 1;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(60.0, static_cast<double>(width) / static_cast<double>(height),
                 1.0, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}

void keyboard(unsigned char key, int /*x*/, int /*y*/) {
  switch (key) {
  case 'x':
    xRot += 1.0f;
    break;
  case 'y':
    yRot += 1.0f;
    break;
  case 'z':
    zRot += 1.0f;
    break;
  default:
    return;
  }
  glutPostRedisplay();
}

int main(int argc, char **argv) {
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowSize(480, 360);
  glutInitWindowPosition(100, 100);
  glutCreateWindow("Vorlix"); // its class and icon: window_identity.cpp

  init(); // a picture that fails shows as a white face; start-up goes on

  glutDisplayFunc(display);
  glutReshapeFunc(reshape);
  glutIdleFunc(display);
  glutKeyboardFunc(keyboard);
  glutMainLoop();
  return 0;
}

// Reading what a frame shows: colours at pixels, and the rotation angles that
// a frame's model-view matrix was built from.
#pragma once

#include <string>
#include <vector>

#include "test_pictures.h"

// An RGBA image as glReadPixels returns it: bottom row first.
struct Image {
  int width = 0, height = 0;
  std::vector<unsigned char> rgba;
};

// Empty when the colour at (x, y) (GL window coordinates) is within
// `tolerance` of `expected` in every channel; otherwise a message naming the
// pixel, the expected and the found colour.
std::string probe_pixel(const Image &img, int x, int y, Rgb expected,
                        int tolerance = 8);

// The same for every pixel of the rectangle of `w` x `h` pixels whose lower
// left corner is (x, y): empty, or how many are off and the first of them.
std::string probe_rect(const Image &img, int x, int y, int w, int h,
                       Rgb expected, int tolerance = 8);

// Angles (degrees) of glTranslatef(0, 0, -5) . Rx(a) . Ry(b) . Rz(c), from a
// column-major model-view matrix, for z within (-90, 90) and y not near 90 or
// 270 (where x and z cannot be told apart). Results lie in (-180, 180].
struct Angles {
  double x, y, z;
};
Angles angles_of(const float *modelview);

// Empty when a frame's model-view matrix is the one for these angles (each
// element within 1e-5); otherwise a message naming the first element off.
std::string check_modelview(const float *found, double x, double y, double z);

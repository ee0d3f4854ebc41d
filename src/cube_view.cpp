#include "cube_view.h"

#include <cmath>

namespace {

const double kNormals[6][3] = {{0, 0, 1},  {0, 0, -1}, {0, 1, 0},
                               {0, -1, 0}, {1, 0, 0},  {-1, 0, 0}};

} // namespace

double TowardsEye(int f, float x, float y, float z) {
  const double d = M_PI / 180;
  const double *n = kNormals[f];
  double cz = std::cos(z * d), sz = std::sin(z * d);
  double x1 = n[0] * cz - n[1] * sz, y1 = n[0] * sz + n[1] * cz, z1 = n[2];
  double cy = std::cos(y * d), sy = std::sin(y * d);
  double z2 = -x1 * sy + z1 * cy;
  return y1 * std::sin(x * d) + z2 * std::cos(x * d);
}

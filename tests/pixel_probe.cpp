#include "pixel_probe.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

std::string probe_pixel(const Image &img, int x, int y, Rgb expected,
                        int tolerance) {
  char msg[200];
  if (x < 0 || y < 0 || x >= img.width || y >= img.height) {
    std::snprintf(msg, sizeof msg, "probe at (%d, %d) outside %dx%d image", x,
                  y, img.width, img.height);
    return msg;
  }
  const unsigned char *p = &img.rgba[(size_t(y) * img.width + x) * 4];
  if (std::abs(p[0] - expected.r) <= tolerance &&
      std::abs(p[1] - expected.g) <= tolerance &&
      std::abs(p[2] - expected.b) <= tolerance)
    return "";
  std::snprintf(msg, sizeof msg,
                "probe at (%d, %d): expected (%d, %d, %d), observed "
                "(%d, %d, %d)",
                x, y, expected.r, expected.g, expected.b, p[0], p[1], p[2]);
  return msg;
}

std::string probe_rect(const Image &img, int x, int y, int w, int h,
                       Rgb expected, int tolerance) {
  std::string first;
  int off = 0;
  for (int py = y; py < y + h; py++)
    for (int px = x; px < x + w; px++) {
      std::string problem = probe_pixel(img, px, py, expected, tolerance);
      if (!problem.empty() && off++ == 0)
        first = problem;
    }
  return off == 0 ? ""
                  : std::to_string(off) + " of " + std::to_string(w * h) +
                        " pixels off, first " + first;
}

namespace {
constexpr double kPi = 3.14159265358979323846;
double deg(double rad) {
  return rad * 180.0 / kPi;
}
double rad(double deg) {
  return deg * kPi / 180.0;
}
} // namespace

Angles angles_of(const float *m) {
  // Column-major: element (row r, column c) is m[c * 4 + r]. The sign of
  // element (0, 0) is the sign of cos(y) as long as |z| < 90.
  auto at = [m](int r, int c) { return double(m[c * 4 + r]); };
  double s = at(0, 0) >= 0 ? 1.0 : -1.0;
  Angles a;
  a.x = deg(std::atan2(-at(1, 2) * s, at(2, 2) * s));
  a.y = deg(std::atan2(at(0, 2), s * std::hypot(at(0, 0), at(0, 1))));
  a.z = deg(std::atan2(-at(0, 1) * s, at(0, 0) * s));
  return a;
}

std::string check_modelview(const float *found, double x, double y, double z) {
  float out[16];
  double sa = std::sin(rad(x)), ca = std::cos(rad(x));
  double sb = std::sin(rad(y)), cb = std::cos(rad(y));
  double sc = std::sin(rad(z)), cc = std::cos(rad(z));
  double r[3][3] = {
      {cb * cc, -cb * sc, sb},
      {ca * sc + sa * sb * cc, ca * cc - sa * sb * sc, -sa * cb},
      {sa * sc - ca * sb * cc, sa * cc + ca * sb * sc, ca * cb},
  };
  for (int c = 0; c < 4; c++)
    for (int row = 0; row < 4; row++)
      out[c * 4 + row] = c < 3 && row < 3 ? float(r[row][c]) : 0.0f;
  out[14] = -5.0f;
  out[15] = 1.0f;
  for (int i = 0; i < 16; i++) {
    if (std::fabs(out[i] - found[i]) > 1e-5) {
      char msg[160];
      std::snprintf(msg, sizeof msg,
                    "model-view element %d for angles (%g, %g, %g): "
                    "expected %f, found %f",
                    i, x, y, z, out[i], found[i]);
      return msg;
    }
  }
  return "";
}

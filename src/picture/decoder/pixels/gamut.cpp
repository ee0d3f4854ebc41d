#include "picture/decoder/pixels/gamut.h"

#include <algorithm>
#include <cmath>

namespace {

// Oklab (Björn Ottosson's), from and to linear light in sRGB's primaries:
// a space whose hue and lightness stay as its chroma changes.
void toOklab(const float c[3], float lab[3]) {
  float l = std::cbrt(0.4122214708f * c[0] + 0.5363325363f * c[1] +
                      0.0514459929f * c[2]),
        m = std::cbrt(0.2119034982f * c[0] + 0.6806995451f * c[1] +
                      0.1073969566f * c[2]),
        s = std::cbrt(0.0883024619f * c[0] + 0.2817188376f * c[1] +
                      0.6299787005f * c[2]);
  lab[0] = 0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s;
  lab[1] = 1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s;
  lab[2] = 0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s;
}
void fromOklab(const float lab[3], float c[3]) {
  float l = lab[0] + 0.3963377774f * lab[1] + 0.2158037573f * lab[2],
        m = lab[0] - 0.1055613458f * lab[1] - 0.0638541728f * lab[2],
        s = lab[0] - 0.0894841775f * lab[1] - 1.2914855480f * lab[2];
  l = l * l * l, m = m * m * m, s = s * s * s;
  c[0] = 4.0767416621f * l - 3.3077115913f * m + 0.2309699292f * s;
  c[1] = -1.2684380046f * l + 2.6097574011f * m - 0.3413193965f * s;
  c[2] = -0.0041960863f * l - 0.7034186147f * m + 1.7076147010f * s;
}

} // namespace

void IntoGamut(float light[3]) {
  float lab[3], tried[3], c[3];
  toOklab(light, lab);
  lab[0] = std::clamp(lab[0], 0.0f, 1.0f);
  float low = 0, high = 1;
  for (int i = 0; i < 8; i++) {
    float k = (low + high) / 2;
    tried[0] = lab[0], tried[1] = lab[1] * k, tried[2] = lab[2] * k;
    fromOklab(tried, c);
    (OnScreen(c) ? low : high) = k;
  }
  tried[0] = lab[0], tried[1] = lab[1] * low, tried[2] = lab[2] * low;
  fromOklab(tried, light);
  for (int i = 0; i < 3; i++)
    light[i] = std::clamp(light[i], 0.0f, 1.0f);
}

bool OnScreen(const float c[3]) {
  constexpr float e = 1e-4f;
  return c[0] >= -e && c[1] >= -e && c[2] >= -e && c[0] <= 1 + e &&
         c[1] <= 1 + e && c[2] <= 1 + e;
}

#include "picture/decoder/pixels/colour.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <lcms2.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "picture/decoder/pixels/profiles.h"

namespace {

// lcms2 says nothing of the profiles it can't read.
void quiet(cmsContext, cmsUInt32Number, const char *) {}

cmsHPROFILE screen = nullptr;     // null: sRGB
cmsHPROFILE screenGrey = nullptr; // grey on the screen's tone curve

cmsUInt32Number formatOf(int channels) {
  const cmsUInt32Number formats[] = {TYPE_GRAY_8, TYPE_GRAYA_8, TYPE_RGB_8,
                                     TYPE_RGBA_8};
  return formats[channels - 1];
}

// Both profiles three curves and a matrix: a value's light through the
// source's curves, the light through both matrices, the screen's value for
// it from a table. About 2 ns a pixel here, where lcms2's own transform
// takes 9 to 12, and within a level of it.
bool prepareMatrices(cmsHPROFILE from, cmsHPROFILE to, ColourConversion &c) {
  double mFrom[9], mTo[9], toInverse[9];
  cmsToneCurve *fromCurves[3], *toCurves[3];
  if (!MatrixAndCurves(from, mFrom, fromCurves) ||
      !MatrixAndCurves(to, mTo, toCurves))
    return false;
  InvertMatrix(mTo, toInverse);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      c.matrix[3 * i + j] = float(toInverse[3 * i] * mFrom[j] +
                                  toInverse[3 * i + 1] * mFrom[3 + j] +
                                  toInverse[3 * i + 2] * mFrom[6 + j]);
  for (int ch = 0; ch < 3; ch++) {
    for (int v = 0; v < 256; v++)
      c.linear[ch][v] = cmsEvalToneCurveFloat(fromCurves[ch], float(v) / 255);
    cmsToneCurve *back = cmsReverseToneCurve(toCurves[ch]);
    if (back == nullptr)
      return false;
    for (int i = 0; i <= ColourConversion::kSteps; i++) {
      float v =
          cmsEvalToneCurveFloat(back, float(i) / ColourConversion::kSteps);
      c.encoded[ch][i] = static_cast<unsigned char>(
          std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255));
    }
    cmsFreeToneCurve(back);
  }
  return true;
}

// A pixel's light in the screen's primaries, clamped to what it can show,
// as indices into the tables of its values: each of the picture's channels'
// light times its column of the matrix, four lanes at a time (the fourth
// unused) where the processor has them (SSE2, every x86-64's).
#ifdef __SSE2__
struct Columns {
  __m128 red, green, blue;
};
Columns columnsOf(const float m[9]) {
  return {_mm_setr_ps(m[0], m[3], m[6], 0), _mm_setr_ps(m[1], m[4], m[7], 0),
          _mm_setr_ps(m[2], m[5], m[8], 0)};
}
void screenIndices(const Columns &m, float r, float g, float b, int out[4]) {
  __m128 light = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(r), m.red),
                                       _mm_mul_ps(_mm_set1_ps(g), m.green)),
                            _mm_mul_ps(_mm_set1_ps(b), m.blue));
  light = _mm_min_ps(_mm_max_ps(light, _mm_setzero_ps()), _mm_set1_ps(1));
  __m128 steps = _mm_set1_ps(float(ColourConversion::kSteps));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(out),
                   _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(light, steps),
                                               _mm_set1_ps(0.5f))));
}
#else
using Columns = const float *;
Columns columnsOf(const float m[9]) {
  return m;
}
void screenIndices(Columns m, float r, float g, float b, int out[4]) {
  for (int i = 0; i < 3; i++) {
    float light = m[3 * i] * r + m[3 * i + 1] * g + m[3 * i + 2] * b;
    light = light > 0 ? (light < 1 ? light : 1) : 0;
    out[i] = int(light * ColourConversion::kSteps + 0.5f);
  }
}
#endif

template <int channels>
void convertByMatrix(const ColourConversion &c, const unsigned char *in,
                     unsigned char *out, int width) {
  const Columns m = columnsOf(c.matrix);
  for (int x = 0; x < width; x++, in += channels, out += channels) {
    int at[4];
    screenIndices(m, c.linear[0][in[0]], c.linear[1][in[1]], c.linear[2][in[2]],
                  at);
    unsigned char r = c.encoded[0][at[0]], g = c.encoded[1][at[1]],
                  b = c.encoded[2][at[2]];
    unsigned char alpha = channels == 4 ? in[3] : 0;
    out[0] = r;
    out[1] = g;
    out[2] = b;
    if (channels == 4)
      out[3] = alpha;
  }
}

// CMYK to RGB by plain arithmetic, in place, a row of `width` pixels. JPEGs
// with Adobe's marker (Photoshop's, and most CMYK JPEGs) store the inks
// inverted.
void inksByArithmetic(unsigned char *row, int width, bool inverted) {
  for (int x = 0; x < width; x++) {
    const unsigned char *in = row + 4 * x;
    unsigned c = in[0], m = in[1], y = in[2], k = in[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    unsigned char *out = row + 3 * x;
    out[0] = static_cast<unsigned char>(c * k / 255);
    out[1] = static_cast<unsigned char>(m * k / 255);
    out[2] = static_cast<unsigned char>(y * k / 255);
  }
}

} // namespace

void UseScreenProfile(const unsigned char *icc, size_t size) {
  cmsSetLogErrorHandler(quiet);
  screen = OpenProfile(icc, size, cmsSigRgbData, LCMS_USED_AS_OUTPUT);
  cmsProfileClassSignature kind =
      screen ? cmsGetDeviceClass(screen) : cmsSigDisplayClass;
  if (kind != cmsSigDisplayClass && kind != cmsSigColorSpaceClass) {
    cmsCloseProfile(screen);
    screen = nullptr;
  }
  // Grey pictures stay grey, on the screen's tone curve (its green's).
  double m[9];
  cmsToneCurve *curves[3];
  if (screen != nullptr && MatrixAndCurves(screen, m, curves))
    screenGrey = cmsCreateGrayProfile(cmsD50_xyY(), curves[1]);
  if (screenGrey != nullptr && IsSrgb(screenGrey)) {
    cmsCloseProfile(screenGrey);
    screenGrey = nullptr;
  }
}

bool InksToRgb(DecodedPicture &picture, const ColourDescription &colours) {
  bool inverted = picture.inks == DecodedPicture::kCmykInverted;
  cmsHPROFILE inks = colours.source == ColourDescription::kIcc
                         ? OpenProfile(colours.icc, colours.iccSize,
                                       cmsSigCmykData, LCMS_USED_AS_INPUT)
                         : nullptr;
  cmsHTRANSFORM t = nullptr;
  if (inks != nullptr) {
    t = cmsCreateTransform(inks, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                           screen ? screen : SrgbProfile(), TYPE_RGB_8,
                           INTENT_PERCEPTUAL, 0);
    cmsCloseProfile(inks);
  }
  int w = picture.width;
  auto *row = static_cast<unsigned char *>(std::malloc(size_t(w) * 3));
  // A CMYK picture's pixels are the reader's own, there to be changed.
  auto *pixels = const_cast<unsigned char *>(picture.pixels);
  for (int y = 0; y < picture.height; y++) {
    unsigned char *stored = pixels + size_t(y) * picture.stride;
    if (t != nullptr && row != nullptr) {
      cmsDoTransform(t, stored, row, cmsUInt32Number(w));
      std::memcpy(stored, row, size_t(w) * 3);
    } else {
      inksByArithmetic(stored, w, inverted);
    }
  }
  bool onScreen = t != nullptr && row != nullptr;
  std::free(row);
  if (t != nullptr)
    cmsDeleteTransform(t);
  picture.channels = 3;
  picture.inks = DecodedPicture::kNoInks;
  return onScreen;
}

bool PrepareConversion(const ColourDescription &colours, int channels,
                       ColourConversion &out) {
  bool grey = channels <= 2;
  cmsHPROFILE source =
      ProfileOf(colours, grey ? cmsSigGrayData : cmsSigRgbData);
  cmsHPROFILE target = grey ? screenGrey : screen;
  if (source == nullptr && target == nullptr)
    return false;
  cmsHPROFILE from = source ? source : grey ? SrgbGreyProfile() : SrgbProfile();
  cmsHPROFILE to = target ? target : grey ? SrgbGreyProfile() : SrgbProfile();
  out.channels = channels;
  bool ready = !grey && prepareMatrices(from, to, out);
  if (!ready) {
    out.transform = cmsCreateTransform(
        from, formatOf(channels), to, formatOf(channels), INTENT_PERCEPTUAL,
        channels % 2 == 0 ? cmsFLAGS_COPY_ALPHA : 0);
    ready = out.transform != nullptr;
  }
  if (source != nullptr)
    cmsCloseProfile(source);
  return ready;
}

void ConvertRow(const ColourConversion &c, const unsigned char *in,
                unsigned char *out, int width) {
  if (c.transform != nullptr)
    cmsDoTransform(c.transform, in, out, cmsUInt32Number(width));
  else if (c.channels == 4)
    convertByMatrix<4>(c, in, out, width);
  else
    convertByMatrix<3>(c, in, out, width);
}

void ReleaseConversion(ColourConversion &c) {
  if (c.transform != nullptr)
    cmsDeleteTransform(c.transform);
  c.transform = nullptr;
}

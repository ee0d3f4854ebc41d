#include "picture/decoder/colour.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <lcms2.h>

#include "picture/decoder/profiles.h"

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

void invert(const double a[9], double out[9]) {
  double det = a[0] * (a[4] * a[8] - a[5] * a[7]) -
               a[1] * (a[3] * a[8] - a[5] * a[6]) +
               a[2] * (a[3] * a[7] - a[4] * a[6]);
  out[0] = (a[4] * a[8] - a[5] * a[7]) / det;
  out[1] = (a[2] * a[7] - a[1] * a[8]) / det;
  out[2] = (a[1] * a[5] - a[2] * a[4]) / det;
  out[3] = (a[5] * a[6] - a[3] * a[8]) / det;
  out[4] = (a[0] * a[8] - a[2] * a[6]) / det;
  out[5] = (a[2] * a[3] - a[0] * a[5]) / det;
  out[6] = (a[3] * a[7] - a[4] * a[6]) / det;
  out[7] = (a[1] * a[6] - a[0] * a[7]) / det;
  out[8] = (a[0] * a[4] - a[1] * a[3]) / det;
}

// Both profiles three curves and a matrix: a value's light through the
// source's curves, the light through both matrices, the screen's value for
// it from a table. Three times as fast as lcms2's own transform here, and
// within a level of it.
bool prepareMatrices(cmsHPROFILE from, cmsHPROFILE to, ColourConversion &c) {
  double mFrom[9], mTo[9], toInverse[9];
  cmsToneCurve *fromCurves[3], *toCurves[3];
  if (!MatrixAndCurves(from, mFrom, fromCurves) ||
      !MatrixAndCurves(to, mTo, toCurves))
    return false;
  invert(mTo, toInverse);
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

template <int channels>
void convertByMatrix(const ColourConversion &c, const unsigned char *in,
                     unsigned char *out, int width) {
  const float *m = c.matrix;
  const float m0 = m[0], m1 = m[1], m2 = m[2], m3 = m[3], m4 = m[4], m5 = m[5],
              m6 = m[6], m7 = m[7], m8 = m[8];
  constexpr float steps = ColourConversion::kSteps;
  for (int x = 0; x < width; x++, in += channels, out += channels) {
    float r = c.linear[0][in[0]], g = c.linear[1][in[1]],
          b = c.linear[2][in[2]];
    float lr = m0 * r + m1 * g + m2 * b, lg = m3 * r + m4 * g + m5 * b,
          lb = m6 * r + m7 * g + m8 * b;
    lr = lr > 0 ? (lr < 1 ? lr : 1) : 0;
    lg = lg > 0 ? (lg < 1 ? lg : 1) : 0;
    lb = lb > 0 ? (lb < 1 ? lb : 1) : 0;
    unsigned char er = c.encoded[0][int(lr * steps + 0.5f)],
                  eg = c.encoded[1][int(lg * steps + 0.5f)],
                  eb = c.encoded[2][int(lb * steps + 0.5f)];
    unsigned char alpha = channels == 4 ? in[3] : 0;
    out[0] = er;
    out[1] = eg;
    out[2] = eb;
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

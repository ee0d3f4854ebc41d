#include "picture/decoder/colour.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <lcms2.h>

namespace {

cmsHPROFILE screen = nullptr;     // null: sRGB
cmsHPROFILE screenGrey = nullptr; // grey on the screen's tone curve

// lcms2 says nothing of the profiles it can't read.
void quiet(cmsContext, cmsUInt32Number, const char *) {}

cmsHPROFILE srgb() {
  static cmsHPROFILE profile = cmsCreate_sRGBProfile();
  return profile;
}

cmsToneCurve *srgbCurve() {
  const cmsFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92,
                                      0.04045};
  return cmsBuildParametricToneCurve(nullptr, 4, params);
}

cmsHPROFILE srgbGrey() {
  static cmsHPROFILE profile = [] {
    cmsToneCurve *curve = srgbCurve();
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return p;
  }();
  return profile;
}

const cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                    cmsSigBlueTRCTag};
const cmsTagSignature kColorants[3] = {
    cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};

// An RGB profile of three curves and a matrix: its matrix from the
// primaries' light to XYZ (row by row), and its curves.
bool matrixAndCurves(cmsHPROFILE p, double m[9], cmsToneCurve *curves[3]) {
  if (cmsGetColorSpace(p) != cmsSigRgbData || !cmsIsMatrixShaper(p))
    return false;
  for (int c = 0; c < 3; c++) {
    auto *xyz = static_cast<cmsCIEXYZ *>(cmsReadTag(p, kColorants[c]));
    curves[c] = static_cast<cmsToneCurve *>(cmsReadTag(p, kCurves[c]));
    if (xyz == nullptr || curves[c] == nullptr)
      return false;
    m[c] = xyz->X;
    m[3 + c] = xyz->Y;
    m[6 + c] = xyz->Z;
  }
  return true;
}

// Whether two curves agree everywhere within half a level of 8 bits.
bool sameCurve(const cmsToneCurve *a, const cmsToneCurve *b) {
  for (int i = 0; i <= 64; i++) {
    float x = float(i) / 64;
    if (std::fabs(cmsEvalToneCurveFloat(a, x) - cmsEvalToneCurveFloat(b, x)) >
        0.5f / 255)
      return false;
  }
  return true;
}

// Whether a profile means sRGB's colours, whatever it is called: the
// common "sRGB IEC61966-2.1" profiles, and the plain grey ones on sRGB's
// curve.
bool isSrgb(cmsHPROFILE p) {
  cmsToneCurve *curve = srgbCurve();
  bool same = false;
  if (cmsGetColorSpace(p) == cmsSigGrayData) {
    auto *grey = static_cast<cmsToneCurve *>(cmsReadTag(p, cmsSigGrayTRCTag));
    same = grey != nullptr && sameCurve(grey, curve);
  } else {
    double m[9], s[9];
    cmsToneCurve *curves[3], *srgbCurves[3];
    same =
        matrixAndCurves(p, m, curves) && matrixAndCurves(srgb(), s, srgbCurves);
    for (int i = 0; same && i < 9; i++)
      same = std::fabs(m[i] - s[i]) < 0.002;
    for (int c = 0; same && c < 3; c++)
      same = sameCurve(curves[c], curve);
  }
  cmsFreeToneCurve(curve);
  return same;
}

// A profile from an ICC profile's bytes, where it is one of `space` that
// can be converted from (or, for the screen, to) and is not sRGB.
cmsHPROFILE openProfile(const unsigned char *icc, size_t size,
                        cmsColorSpaceSignature space, int direction) {
  if (icc == nullptr || size < 128 || size > kMaxProfileBytes)
    return nullptr;
  cmsHPROFILE p = cmsOpenProfileFromMem(icc, cmsUInt32Number(size));
  if (p != nullptr &&
      (cmsGetColorSpace(p) != space ||
       !cmsIsIntentSupported(p, INTENT_PERCEPTUAL, direction) || isSrgb(p))) {
    cmsCloseProfile(p);
    p = nullptr;
  }
  return p;
}

// White point and red, green and blue primaries as x, y: ITU-T H.273's
// colour primaries 1 (BT.709, as sRGB), 9 (BT.2020), 11 (DCI-P3) and 12
// (Display P3).
bool codedPrimaries(int code, double xy[8]) {
  const double bt709[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
  const double bt2020[8] = {0.3127, 0.3290, 0.708, 0.292,
                            0.170,  0.797,  0.131, 0.046};
  const double p3[8] = {0.3127, 0.3290, 0.680, 0.320,
                        0.265,  0.690,  0.150, 0.060};
  const double *chosen = code == 1 || code == 2     ? bt709
                         : code == 9                ? bt2020
                         : code == 11 || code == 12 ? p3
                                                    : nullptr;
  if (chosen == nullptr)
    return false;
  std::memcpy(xy, chosen, sizeof p3);
  if (code == 11) { // DCI's white
    xy[0] = 0.314;
    xy[1] = 0.351;
  }
  return true;
}

// H.273's transfer characteristics for pictures shown on an ordinary
// screen: sRGB's (13), and the video ones still pictures take as it (1, 6,
// 14, 15; 2, unspecified); linear (8); gamma 2.2 (4) and 2.8 (5). Null for
// the others: PQ and HLG are for screens that show more than white.
cmsToneCurve *codedCurve(int code) {
  switch (code) {
  case 1:
  case 2:
  case 6:
  case 13:
  case 14:
  case 15:
    return srgbCurve();
  case 8:
    return cmsBuildGamma(nullptr, 1.0);
  case 4:
    return cmsBuildGamma(nullptr, 2.2);
  case 5:
    return cmsBuildGamma(nullptr, 2.8);
  default:
    return nullptr;
  }
}

// A profile of its primaries and curve, unless it is sRGB's.
cmsHPROFILE builtProfile(const double xy[8], cmsToneCurve *curve,
                         cmsColorSpaceSignature space) {
  if (curve == nullptr)
    return nullptr;
  cmsHPROFILE p = nullptr;
  if (space == cmsSigGrayData) {
    p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
  } else {
    cmsCIExyY white = {xy[0], xy[1], 1};
    cmsCIExyYTRIPLE primaries = {
        {xy[2], xy[3], 1}, {xy[4], xy[5], 1}, {xy[6], xy[7], 1}};
    cmsToneCurve *curves[3] = {curve, curve, curve};
    p = cmsCreateRGBProfile(&white, &primaries, curves);
  }
  cmsFreeToneCurve(curve);
  if (p != nullptr && isSrgb(p)) {
    cmsCloseProfile(p);
    p = nullptr;
  }
  return p;
}

// PNG's gAMA, with cHRM's primaries where they are given and make sense
// (else sRGB's). Within 1 % of sRGB's exponent and primaries, as PNG
// writers put them beside sRGB pictures, it is sRGB.
cmsHPROFILE gammaProfile(const ColourDescription &c,
                         cmsColorSpaceSignature space) {
  double xy[8];
  codedPrimaries(1, xy);
  bool given = true;
  for (double v : c.chromaticities)
    given = given && v > 0 && v < 1;
  bool srgbPrimaries = true;
  for (int i = 0; i < 8; i++)
    srgbPrimaries = srgbPrimaries &&
                    (!given || std::fabs(c.chromaticities[i] - xy[i]) < 0.01);
  if (!srgbPrimaries)
    std::memcpy(xy, c.chromaticities, sizeof xy);
  double exponent = 1 / c.gamma;
  if (std::fabs(exponent - 2.2) < 0.022 && srgbPrimaries)
    return nullptr;
  if (exponent < 0.1 || exponent > 10)
    return nullptr;
  return builtProfile(xy, cmsBuildGamma(nullptr, exponent), space);
}

// The profile the description stands for, of `space`; null where that is
// sRGB, or where it can't be used (the picture is then shown as stored).
cmsHPROFILE profileOf(const ColourDescription &c,
                      cmsColorSpaceSignature space) {
  double xy[8];
  switch (c.source) {
  case ColourDescription::kIcc:
    return openProfile(c.icc, c.iccSize, space, LCMS_USED_AS_INPUT);
  case ColourDescription::kCoded:
    return codedPrimaries(c.primaries, xy)
               ? builtProfile(xy, codedCurve(c.transfer), space)
               : nullptr;
  case ColourDescription::kGammaAndPrimaries:
    return gammaProfile(c, space);
  default:
    return nullptr;
  }
}

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
  if (!matrixAndCurves(from, mFrom, fromCurves) ||
      !matrixAndCurves(to, mTo, toCurves))
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
  screen = openProfile(icc, size, cmsSigRgbData, LCMS_USED_AS_OUTPUT);
  cmsProfileClassSignature kind =
      screen ? cmsGetDeviceClass(screen) : cmsSigDisplayClass;
  if (kind != cmsSigDisplayClass && kind != cmsSigColorSpaceClass) {
    cmsCloseProfile(screen);
    screen = nullptr;
  }
  // Grey pictures stay grey, on the screen's tone curve (its green's).
  double m[9];
  cmsToneCurve *curves[3];
  if (screen != nullptr && matrixAndCurves(screen, m, curves))
    screenGrey = cmsCreateGrayProfile(cmsD50_xyY(), curves[1]);
  if (screenGrey != nullptr && isSrgb(screenGrey)) {
    cmsCloseProfile(screenGrey);
    screenGrey = nullptr;
  }
}

bool InksToRgb(DecodedPicture &picture, const ColourDescription &colours) {
  bool inverted = picture.inks == DecodedPicture::kCmykInverted;
  cmsHPROFILE inks = colours.source == ColourDescription::kIcc
                         ? openProfile(colours.icc, colours.iccSize,
                                       cmsSigCmykData, LCMS_USED_AS_INPUT)
                         : nullptr;
  cmsHTRANSFORM t = nullptr;
  if (inks != nullptr) {
    t = cmsCreateTransform(inks, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                           screen ? screen : srgb(), TYPE_RGB_8,
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
      profileOf(colours, grey ? cmsSigGrayData : cmsSigRgbData);
  cmsHPROFILE target = grey ? screenGrey : screen;
  if (source == nullptr && target == nullptr)
    return false;
  cmsHPROFILE from = source ? source : grey ? srgbGrey() : srgb();
  cmsHPROFILE to = target ? target : grey ? srgbGrey() : srgb();
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

#include "picture/decoder/pixels/profiles.h"

#include <cmath>
#include <cstring>

#include "picture/decoding_limits.h"

namespace {

// `p` where it is to be kept; else closed, and null.
cmsHPROFILE keptIf(cmsHPROFILE p, bool keep) {
  if (p != nullptr && !keep) {
    cmsCloseProfile(p);
    return nullptr;
  }
  return p;
}

cmsToneCurve *srgbCurve() {
  const cmsFloat64Number params[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92,
                                      0.04045};
  return cmsBuildParametricToneCurve(nullptr, 4, params);
}

const cmsTagSignature kCurves[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag,
                                    cmsSigBlueTRCTag};
const cmsTagSignature kColorants[3] = {
    cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};

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

// White point and red, green and blue primaries as x, y: ITU-T H.273's
// colour primaries 1 (BT.709, as sRGB), 5 (BT.470 B/G, PAL's), 6 and 7
// (SMPTE 170M, NTSC's), 9 (BT.2020), 11 (DCI-P3) and 12 (Display P3).
bool codedPrimaries(int code, double xy[8]) {
  const double bt709[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
  const double bt2020[8] = {0.3127, 0.3290, 0.708, 0.292,
                            0.170,  0.797,  0.131, 0.046};
  const double p3[8] = {0.3127, 0.3290, 0.680, 0.320,
                        0.265,  0.690,  0.150, 0.060};
  const double pal[8] = {0.3127, 0.3290, 0.64, 0.33, 0.29, 0.60, 0.15, 0.06};
  const double ntsc[8] = {0.3127, 0.3290, 0.630, 0.340,
                          0.310,  0.595,  0.155, 0.070};
  const double *chosen = code == 1 || code == 2     ? bt709
                         : code == 5                ? pal
                         : code == 6 || code == 7   ? ntsc
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
  return keptIf(p, p != nullptr && !IsSrgb(p));
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

} // namespace

cmsHPROFILE SrgbProfile() {
  static cmsHPROFILE profile = cmsCreate_sRGBProfile();
  return profile;
}

cmsHPROFILE SrgbGreyProfile() {
  static cmsHPROFILE profile = [] {
    cmsToneCurve *curve = srgbCurve();
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    return p;
  }();
  return profile;
}

bool MatrixAndCurves(cmsHPROFILE p, double m[9], cmsToneCurve *curves[3]) {
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

bool IsSrgb(cmsHPROFILE p) {
  cmsToneCurve *curve = srgbCurve();
  bool same = false;
  if (cmsGetColorSpace(p) == cmsSigGrayData) {
    auto *grey = static_cast<cmsToneCurve *>(cmsReadTag(p, cmsSigGrayTRCTag));
    same = grey != nullptr && sameCurve(grey, curve);
  } else {
    double m[9], s[9];
    cmsToneCurve *curves[3], *srgbCurves[3];
    same = MatrixAndCurves(p, m, curves) &&
           MatrixAndCurves(SrgbProfile(), s, srgbCurves);
    for (int i = 0; same && i < 9; i++)
      same = std::fabs(m[i] - s[i]) < 0.002;
    for (int c = 0; same && c < 3; c++)
      same = sameCurve(curves[c], curve);
  }
  cmsFreeToneCurve(curve);
  return same;
}

cmsHPROFILE OpenProfile(const unsigned char *icc, size_t size,
                        cmsColorSpaceSignature space, int direction) {
  if (icc == nullptr || size < 128 || size > kMaxProfileBytes)
    return nullptr;
  cmsHPROFILE p = cmsOpenProfileFromMem(icc, cmsUInt32Number(size));
  return keptIf(p, p != nullptr && cmsGetColorSpace(p) == space &&
                       cmsIsIntentSupported(p, INTENT_PERCEPTUAL, direction) &&
                       !IsSrgb(p));
}

cmsHPROFILE ProfileOf(const ColourDescription &c,
                      cmsColorSpaceSignature space) {
  double xy[8];
  switch (c.source) {
  case ColourDescription::kIcc:
    return OpenProfile(c.icc, c.iccSize, space, LCMS_USED_AS_INPUT);
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

void InvertMatrix(const double a[9], double out[9]) {
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

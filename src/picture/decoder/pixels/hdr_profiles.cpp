// HDR pictures described by an ICC profile whose curves are PQ's or HLG's.
#include <cmath>
#include <initializer_list>
#include <lcms2.h>

#include "picture/decoder/pixels/hdr.h"
#include "picture/decoder/pixels/profiles.h"

bool HdrProfile(const unsigned char *icc, size_t size, int &transfer,
                float toSrgbPrimaries[9]) {
  cmsHPROFILE p = cmsOpenProfileFromMem(icc, cmsUInt32Number(size));
  double m[9], s[9], sInverse[9];
  cmsToneCurve *curves[3], *srgbCurves[3];
  bool found = p != nullptr && MatrixAndCurves(p, m, curves) &&
               MatrixAndCurves(SrgbProfile(), s, srgbCurves);
  // Its curves, at points where PQ and HLG differ from each other and from
  // every gamma: each within a hundredth of one of them.
  bool pq = found, hlg = found;
  for (int c = 0; found && c < 3; c++)
    for (double x : {0.3, 0.5, 0.6, 0.75, 0.9}) {
      double v = cmsEvalToneCurveFloat(curves[c], float(x));
      pq = pq && std::fabs(v - PqToNits(x) / 10000) <
                     0.01 * PqToNits(x) / 10000 + 1e-4;
      hlg = hlg && std::fabs(v - HlgToScene(x)) < 0.01 * HlgToScene(x) + 1e-4;
    }
  if (p != nullptr)
    cmsCloseProfile(p);
  if (!pq && !hlg)
    return false;
  transfer = pq ? kTransferPq : kTransferHlg;
  InvertMatrix(s, sInverse);
  for (int i = 0; i < 3; i++)
    for (int j = 0; j < 3; j++)
      toSrgbPrimaries[3 * i + j] =
          float(sInverse[3 * i] * m[j] + sInverse[3 * i + 1] * m[3 + j] +
                sInverse[3 * i + 2] * m[6 + j]);
  return true;
}

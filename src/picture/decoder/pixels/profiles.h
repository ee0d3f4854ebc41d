// The colours a picture's description (metadata.h) stands for, as lcms2
// profiles: ICC profiles opened from their bytes, and profiles made from
// code points or a gamma; and whether a profile means sRGB's colours,
// whatever it is called. Every profile is untrusted input, read only in a
// decoder's sandbox.
#pragma once

#include <cstddef>
#include <lcms2.h>

#include "picture/decoder/pixels/metadata.h"

// lcms2's own sRGB profile, and one of grey on sRGB's curve.
cmsHPROFILE SrgbProfile();
cmsHPROFILE SrgbGreyProfile();

// Whether a profile means sRGB's colours: the common "sRGB IEC61966-2.1"
// profiles, and the plain grey ones on sRGB's curve.
bool IsSrgb(cmsHPROFILE p);

// The inverse of a 3 x 3 matrix, row by row.
void InvertMatrix(const double a[9], double out[9]);

// An RGB profile of three curves and a matrix: its matrix from the
// primaries' light to XYZ (row by row), and its curves; false for others.
bool MatrixAndCurves(cmsHPROFILE p, double m[9], cmsToneCurve *curves[3]);

// A profile from an ICC profile's bytes, where it is one of `space` that
// can be used in `direction` (LCMS_USED_AS_INPUT or _OUTPUT) and is not
// sRGB; else null.
cmsHPROFILE OpenProfile(const unsigned char *icc, size_t size,
                        cmsColorSpaceSignature space, int direction);

// The profile a description stands for, of `space`; null where that is
// sRGB, or where it can't be used (the picture is then shown as stored).
cmsHPROFILE ProfileOf(const ColourDescription &c, cmsColorSpaceSignature space);

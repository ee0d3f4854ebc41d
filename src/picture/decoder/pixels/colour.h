// A picture's colours as its file means them, on the screen's own profile:
// a decoder converts the pixels with lcms2 (Little CMS) from the colours
// the file describes (metadata.h; sRGB where it describes none, or where
// its description is damaged or not understood) to the screen's profile
// (sRGB where the screen has none). Where both are sRGB nothing is
// converted, and the pixels are exactly as stored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/decoder/pixels/metadata.h"

// The screen's profile, as the viewer read it from the X server; opened here,
// in the decoder's sandbox. One that can't be read or is not a usable RGB
// display profile counts as sRGB.
void UseScreenProfile(const unsigned char *icc, size_t size);

// The conversion of one picture's rows: either a matrix and curves (where
// both profiles are the plain kind nearly every camera, phone and display
// has: three curves and a matrix), or a transform of lcms2's.
struct ColourConversion {
  int channels = 0;
  void *transform = nullptr; // lcms2's, where the profiles need it
  float linear[3][256];      // a stored value's light, each channel
  float matrix[9];           // the picture's light to the screen's
  static constexpr int kSteps = 4096;
  unsigned char encoded[3][kSteps + 1]; // the screen's value for light
};

// Turns a CMYK picture's inks (four channels, as libjpeg leaves them) into
// RGB in place: through the CMYK profile its file describes, into the
// screen's colours (true); or, without one, by plain arithmetic into sRGB
// (false). Its channels become three.
bool InksToRgb(DecodedPicture &picture, const ColourDescription &colours);

// Prepares the conversion of a picture of `channels` (grey, grey + alpha,
// RGB, RGBA) from the colours described to the screen's; false where there
// is none to do. Alpha is kept as it is; grey stays grey, on the screen's
// tone curve.
bool PrepareConversion(const ColourDescription &colours, int channels,
                       ColourConversion &out);
// Converts a row of `width` pixels; `in` may be `out`.
void ConvertRow(const ColourConversion &c, const unsigned char *in,
                unsigned char *out, int width);
void ReleaseConversion(ColourConversion &c);

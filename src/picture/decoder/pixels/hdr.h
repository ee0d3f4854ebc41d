// HDR pictures on an ordinary screen. Their values are coded with the PQ
// (SMPTE ST 2084) or HLG (ARIB STD-B67) transfer function, mostly in
// BT.2020's primaries, for screens of 1,000 cd/m² and more; shown as if
// they were sRGB they look grey and dull. Here their light is mapped to
// what an SDR screen shows:
// - luminance by BT.2390's EETF, in PQ's own scale, from the picture's
//   peak (1,000 cd/m² where it says none) down to the SDR white of 203
//   cd/m² (BT.2408's reference white, HLG's 75 % signal), so that what is
//   darker keeps nearly its SDR relation and highlights are compressed in
//   order, never clipped (1,000 / 400 / 203 / 100 cd/m² show at about 255 /
//   250 / 229 / 186 of 255);
// - colour by luminance, not per channel: each pixel's three channels are
//   scaled alike, so its hue stays; a colour the screen can't show (outside
//   its gamut, or too bright for its saturation) is brought onto it in
//   Oklab, its lightness and hue kept and its chroma lessened as far as it
//   must be: saturation yields, never hue (a saturated BT.2020 red stays a
//   red, a little less saturated).
// The result is sRGB, on which the screen's profile is applied as for any
// picture.
#pragma once

#include <cstdint>

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/decoder/pixels/metadata.h"

// The H.273 transfer characteristics of HDR, and the primaries known here.
constexpr int kTransferPq = 16, kTransferHlg = 18;
constexpr int kPrimariesBt709 = 1, kPrimariesBt2020 = 9,
              kPrimariesDisplayP3 = 12;

// SDR white on the HDR scale, in cd/m² (BT.2408).
constexpr double kReferenceWhiteNits = 203;
// The source peak assumed where a picture gives none, and the range taken
// from one that does (anything outside is not believed).
constexpr double kAssumedPeakNits = 1000;
constexpr double kLowestPeakNits = kReferenceWhiteNits,
                 kHighestPeakNits = 10000;

// PQ's EOTF (a coded value's light in cd/m²) and its inverse; HLG's inverse
// OETF (a coded value's scene light, 0 to 1).
double PqToNits(double coded);
double NitsToPq(double nits);
double HlgToScene(double coded);

// Whether the colours are coded as PQ or HLG.
bool IsHdr(const ColourDescription &colours);

// Whether they are, or are described by an ICC profile whose curves are
// PQ's or HLG's (HdrProfile).
bool HdrMetadata(const ColourDescription &colours);

// Whether an ICC profile's curves are PQ's or HLG's (a profile made for an
// HDR picture, whose white is PQ's 10,000 cd/m²: followed, the picture
// shows nearly black); the transfer, and its primaries' light to sRGB's.
bool HdrProfile(const unsigned char *icc, size_t size, int &transfer,
                float toSrgbPrimaries[9]);

// How one picture's pixels are mapped.
struct HdrMapping {
  int transfer = kTransferPq;
  double peakNits = kAssumedPeakNits;
  float toSrgbPrimaries[9]; // linear light, the picture's primaries to sRGB's
  // The EETF's constants, in PQ's scale.
  double sourcePeakPq = 0, maxLum = 0, kneeStart = 0;
  // Tables for 8-bit rows: a coded value's light (PQ: cd/m²; HLG: scene
  // light), and, at kSteps + 1 points, the factor a luminance is scaled by
  // (over the square root of its share of 10,000 cd/m²), HLG's system gamma
  // (over the scene's luminance), and sRGB's coded values (over light).
  static constexpr int kSteps = 4096;
  float decoded[256];
  float scaleOf[kSteps + 1], gammaOf[kSteps + 1];
  unsigned char srgb[kSteps + 1];
};

// Prepares the mapping for colours that IsHdr, from a source peak of
// `peakNits` (0: none given; absurd values are not believed). False where
// the primaries are not known here.
bool PrepareHdrMapping(const ColourDescription &colours, double peakNits,
                       HdrMapping &m);
// The same for a transfer and the primaries' light to sRGB's.
void PrepareHdrMappingOf(int transfer, const float toSrgbPrimaries[9],
                         double peakNits, HdrMapping &m);

// One pixel's coded values (0 to 1, R G B) to its light in sRGB's
// primaries, relative to the screen's white, each 0 to 1.
void MapHdrPixel(const HdrMapping &m, const float coded[3], float light[3]);

// Maps a row of `width` 8-bit pixels of `channels` (grey, grey + alpha, RGB,
// RGBA; alpha kept) in place, to sRGB's coded values.
void MapHdrRow(const HdrMapping &m, unsigned char *row, int channels,
               int width);

// Maps a decoded picture in place where `colours` are HDR ones this
// knows, and makes them sRGB; false, with nothing done, where they are not.
// `peakNits`: its peak luminance, where the file gives one (0: none). Made
// `reduceBy` times smaller first (the hand-over's factor), so that only
// the pixels shown are mapped: about 100 ns each, a second for a 12 MP
// photo mapped whole.
bool MapHdrPicture(DecodedPicture &picture, ColourDescription &colours,
                   double peakNits, int reduceBy);

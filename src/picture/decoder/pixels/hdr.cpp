#include "picture/decoder/pixels/hdr.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "picture/decoder/pixels/gamut.h"
#include "picture/decoder/pixels/handover.h"

namespace {

// SMPTE ST 2084's constants.
constexpr double kM1 = 2610.0 / 16384, kM2 = 2523.0 / 4096 * 128,
                 kC1 = 3424.0 / 4096, kC2 = 2413.0 / 4096 * 32,
                 kC3 = 2392.0 / 4096 * 32;

} // namespace

double PqToNits(double e) {
  double p = std::pow(std::clamp(e, 0.0, 1.0), 1 / kM2);
  return 10000 * std::pow(std::max(p - kC1, 0.0) / (kC2 - kC3 * p), 1 / kM1);
}

double NitsToPq(double nits) {
  double y = std::pow(std::clamp(nits / 10000, 0.0, 1.0), kM1);
  return std::pow((kC1 + kC2 * y) / (1 + kC3 * y), kM2);
}

double HlgToScene(double e) {
  // BT.2100's constants (b = 1 - 4a, c = 0.5 - a ln 4a).
  constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
  e = std::clamp(e, 0.0, 1.0);
  return e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12;
}

namespace {

// Linear light from a picture's primaries to sRGB's (BT.709's), D65.
// clang-format off
const float kFromBt2020[9] = { 1.660491f, -0.587641f, -0.072850f,
                              -0.124550f,  1.132900f, -0.008349f,
                              -0.018151f, -0.100579f,  1.118730f};
const float kFromDisplayP3[9] = { 1.224940f, -0.224940f, 0.0f,
                                 -0.042057f,  1.042057f, 0.0f,
                                 -0.019638f, -0.078636f, 1.098274f};
// clang-format on
const float kIdentity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// Luminance of linear light in sRGB's primaries, and in BT.2020's (HLG's
// system gamma is applied to the scene's own).
float luminance709(const float c[3]) {
  return 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2];
}

// BT.2390's EETF on a luminance in cd/m²: the same luminance on the screen,
// at most the SDR white.
double eetf(const HdrMapping &m, double nits) {
  if (m.maxLum >= 1) // the source is no brighter than SDR white
    return std::min(nits, kReferenceWhiteNits);
  double e1 = std::min(NitsToPq(nits) / m.sourcePeakPq, 1.0);
  double e2 = e1;
  if (e1 > m.kneeStart) { // a Hermite spline from the knee to the peak
    double ks = m.kneeStart, t = (e1 - ks) / (1 - ks), t2 = t * t, t3 = t2 * t;
    e2 = (2 * t3 - 3 * t2 + 1) * ks + (t3 - 2 * t2 + t) * (1 - ks) +
         (-2 * t3 + 3 * t2) * m.maxLum;
  }
  return std::min(PqToNits(e2 * m.sourcePeakPq), kReferenceWhiteNits);
}

unsigned char encodeSrgb(float light) {
  double v = std::clamp(double(light), 0.0, 1.0);
  v = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
  return static_cast<unsigned char>(std::lround(v * 255));
}

} // namespace

bool IsHdr(const ColourDescription &colours) {
  return colours.source == ColourDescription::kCoded &&
         (colours.transfer == kTransferPq || colours.transfer == kTransferHlg);
}

bool HdrMetadata(const ColourDescription &colours) {
  int transfer = 0;
  float matrix[9];
  return IsHdr(colours) ||
         (colours.source == ColourDescription::kIcc &&
          HdrProfile(colours.icc, colours.iccSize, transfer, matrix));
}

bool PrepareHdrMapping(const ColourDescription &colours, double peakNits,
                       HdrMapping &m) {
  const float *matrix = colours.primaries == kPrimariesBt2020 ? kFromBt2020
                        : colours.primaries == kPrimariesDisplayP3
                            ? kFromDisplayP3
                        : colours.primaries == kPrimariesBt709 ? kIdentity
                                                               : nullptr;
  if (!IsHdr(colours) || matrix == nullptr)
    return false;
  PrepareHdrMappingOf(colours.transfer, matrix, peakNits, m);
  return true;
}

void PrepareHdrMappingOf(int transfer, const float toSrgbPrimaries[9],
                         double peakNits, HdrMapping &m) {
  m = {};
  m.transfer = transfer;
  // A peak of 0, one of a billion or one not a number is not believed; one
  // below SDR white is taken as SDR white.
  bool believed = peakNits > 0 && peakNits <= kHighestPeakNits;
  m.peakNits =
      believed ? std::max(peakNits, kLowestPeakNits) : kAssumedPeakNits;
  std::copy(toSrgbPrimaries, toSrgbPrimaries + 9, m.toSrgbPrimaries);
  m.sourcePeakPq = NitsToPq(m.peakNits);
  m.maxLum = NitsToPq(kReferenceWhiteNits) / m.sourcePeakPq;
  m.kneeStart = 1.5 * m.maxLum - 0.5;
  for (int v = 0; v < 256; v++)
    m.decoded[v] = float(m.transfer == kTransferPq ? PqToNits(v / 255.0)
                                                   : HlgToScene(v / 255.0));
  double gamma = 1.2 + 0.42 * std::log10(m.peakNits / 1000);
  for (int i = 0; i <= HdrMapping::kSteps; i++) {
    double u = double(i) / HdrMapping::kSteps, y = u * u * 10000;
    m.scaleOf[i] = float(i == 0 ? 1 / kReferenceWhiteNits
                                : eetf(m, y) / y / kReferenceWhiteNits);
    m.gammaOf[i] = float(i == 0 ? 0 : std::pow(u, gamma - 1));
    m.srgb[i] = encodeSrgb(float(u));
  }
}

namespace {

// Linear interpolation in a table of kSteps + 1 points over 0 to 1.
float lookUp(const float table[], float at) {
  float x = std::clamp(at, 0.0f, 1.0f) * HdrMapping::kSteps;
  int i = std::min(int(x), HdrMapping::kSteps - 1);
  return table[i] + (table[i + 1] - table[i]) * (x - float(i));
}

// HLG's scene light through its system gamma (BT.2100), in cd/m².
void hlgToDisplay(const HdrMapping &m, const float scene[3], float nits[3]) {
  float ys = 0.2627f * scene[0] + 0.6780f * scene[1] + 0.0593f * scene[2];
  float scale = float(m.peakNits) * lookUp(m.gammaOf, ys);
  for (int c = 0; c < 3; c++)
    nits[c] = scale * scene[c];
}

// From a pixel's light in cd/m², in its own primaries.
void mapLight(const HdrMapping &m, const float nits[3], float light[3]) {
  const float *t = m.toSrgbPrimaries;
  float rgb[3];
  for (int r = 0; r < 3; r++)
    rgb[r] =
        t[3 * r] * nits[0] + t[3 * r + 1] * nits[1] + t[3 * r + 2] * nits[2];
  float y = luminance709(rgb);
  if (!(y > 0)) {
    light[0] = light[1] = light[2] = 0;
    return;
  }
  // Luminance mapped, the three channels scaled alike.
  float scale = lookUp(m.scaleOf, std::sqrt(y / 10000));
  for (int c = 0; c < 3; c++)
    light[c] = rgb[c] * scale;
  if (!OnScreen(light))
    IntoGamut(light);
}

} // namespace

void MapHdrPixel(const HdrMapping &m, const float coded[3], float light[3]) {
  float nits[3];
  if (m.transfer == kTransferPq) {
    for (int c = 0; c < 3; c++)
      nits[c] = float(PqToNits(coded[c]));
  } else {
    float scene[3];
    for (int c = 0; c < 3; c++)
      scene[c] = float(HlgToScene(coded[c]));
    hlgToDisplay(m, scene, nits);
  }
  mapLight(m, nits, light);
}

namespace {

// A pixel's coded values (grey: one), each's light from `decoded`, to its
// 8-bit sRGB values shown.
template <typename Value>
void mapCoded(const HdrMapping &m, const float *decoded, const Value *in,
              bool grey, unsigned char *out) {
  float nits[3], light[3];
  for (int c = 0; c < 3; c++)
    nits[c] = decoded[in[grey ? 0 : c]];
  if (m.transfer == kTransferHlg) {
    float scene[3] = {nits[0], nits[1], nits[2]};
    hlgToDisplay(m, scene, nits);
  }
  mapLight(m, nits, light);
  for (int c = 0; c < (grey ? 1 : 3); c++)
    out[c] = m.srgb[std::lround(std::clamp(light[c], 0.0f, 1.0f) *
                                HdrMapping::kSteps)];
}

} // namespace

void MapHdrRow(const HdrMapping &m, unsigned char *row, int channels,
               int width) {
  bool grey = channels < 3;
  for (int x = 0; x < width; x++) {
    unsigned char *p = row + size_t(x) * size_t(channels);
    mapCoded(m, m.decoded, p, grey, p);
  }
}

namespace {

// A 16-bit picture's rows made 8-bit in place, each pixel through `pixel`
// (its 16-bit channels to its 8-bit ones): each 8-bit row is written at or
// before where its 16-bit one was read.
template <typename Pixel>
void toEightBits(DecodedPicture &picture, Pixel pixel) {
  int ch = picture.channels;
  auto *bytes = const_cast<unsigned char *>(picture.pixels);
  for (int y = 0; y < picture.height; y++) {
    const auto *in =
        reinterpret_cast<const uint16_t *>(bytes + size_t(y) * picture.stride);
    unsigned char *out = bytes + size_t(y) * size_t(picture.width) * ch;
    for (int x = 0; x < picture.width; x++)
      pixel(in + size_t(x) * ch, out + size_t(x) * ch);
  }
  picture.stride = size_t(picture.width) * size_t(ch);
  picture.bits = 8;
}

// 16-bit HDR: each coded value's light from a table of all 65,536.
void mapSixteenBits(const HdrMapping &m, DecodedPicture &picture) {
  std::vector<float> decoded(65536);
  for (int v = 0; v < 65536; v++)
    decoded[size_t(v)] =
        float(m.transfer == kTransferPq ? PqToNits(v / 65535.0)
                                        : HlgToScene(v / 65535.0));
  bool grey = picture.channels < 3;
  toEightBits(picture, [&](const uint16_t *in, unsigned char *out) {
    mapCoded(m, decoded.data(), in, grey, out);
  });
}

} // namespace

bool MapHdrPicture(DecodedPicture &picture, ColourDescription &colours,
                   double peakNits, int reduceBy) {
  HdrMapping m;
  if (picture.pixels == nullptr)
    return false;
  int transfer = 0;
  float matrix[9];
  bool mapped = PrepareHdrMapping(colours, peakNits, m);
  if (!mapped && colours.source == ColourDescription::kIcc &&
      HdrProfile(colours.icc, colours.iccSize, transfer, matrix)) {
    PrepareHdrMappingOf(transfer, matrix, peakNits, m);
    mapped = true;
  }
  if (!mapped) {
    if (picture.bits == 16) // as stored
      toEightBits(picture, [&](const uint16_t *in, unsigned char *out) {
        for (int c = 0; c < picture.channels; c++)
          out[c] = static_cast<unsigned char>(in[c] >> 8);
      });
    return false;
  }
  // The reader's own pixels, its to free: made smaller and mapped where
  // they are.
  MakeSmallerInPlace(picture, reduceBy);
  auto *pixels = const_cast<unsigned char *>(picture.pixels);
  if (picture.bits == 16)
    mapSixteenBits(m, picture);
  else
    for (int y = 0; y < picture.height; y++)
      MapHdrRow(m, pixels + size_t(y) * picture.stride, picture.channels,
                picture.width);
  colours = {};
  colours.source = ColourDescription::kSrgb;
  return true;
}

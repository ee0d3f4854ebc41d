// A clip's decoded frame made into the pixels handed over: converted from
// its stream's YUV by the stream's own matrix and range (swscale would
// assume BT.601 unless told), made no larger than it is shown in the same
// step, its samples' shape applied, and described by its primaries and
// transfer for the colour conversion after it. HDR (PQ, HLG) comes at 16
// bits, for its light to be mapped as an HDR photo's is.
#include <algorithm>
#include <cmath>

#include "picture/decoder/libraries/ffmpeg_calls.h"
#include "picture/decoding_limits.h"
#include "picture/protocol.h"

namespace {

bool isHdr(const AVFrame &f) {
  return f.color_trc == AVCOL_TRC_SMPTE2084 ||
         f.color_trc == AVCOL_TRC_ARIB_STD_B67;
}

// HD and larger clips that don't say are BT.709, smaller ones BT.601, as
// players take them.
bool hd(const AVFrame &f) {
  return f.height >= 720 || f.width >= 1280;
}

int matrixOf(const AVFrame &f) {
  switch (f.colorspace) {
  case AVCOL_SPC_BT709:
    return SWS_CS_ITU709;
  case AVCOL_SPC_BT2020_NCL:
  case AVCOL_SPC_BT2020_CL:
    return SWS_CS_BT2020;
  case AVCOL_SPC_FCC:
    return SWS_CS_FCC;
  case AVCOL_SPC_SMPTE240M:
    return SWS_CS_SMPTE240M;
  case AVCOL_SPC_BT470BG:
  case AVCOL_SPC_SMPTE170M:
    return SWS_CS_ITU601;
  default:
    return hd(f) ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
}

bool fullRange(const AVFrame &f) {
  auto format = AVPixelFormat(f.format);
  return f.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P ||
         format == AV_PIX_FMT_YUVJ422P || format == AV_PIX_FMT_YUVJ444P ||
         format == AV_PIX_FMT_YUVJ440P;
}

// Its primaries and transfer as H.273 code points (FFmpeg's are those):
// unspecified ones as BT.709's, whose primaries are sRGB's and whose
// transfer is shown as sRGB, as an untagged photo is taken to be sRGB.
void describeColours(const AVFrame &f, DecodedPicture &out) {
  int primaries = f.color_primaries;
  if (primaries == AVCOL_PRI_UNSPECIFIED || primaries == AVCOL_PRI_RESERVED ||
      primaries == AVCOL_PRI_RESERVED0)
    primaries = AVCOL_PRI_BT709;
  int transfer = f.color_trc;
  if (transfer == AVCOL_TRC_UNSPECIFIED || transfer == AVCOL_TRC_RESERVED ||
      transfer == AVCOL_TRC_RESERVED0)
    transfer = AVCOL_TRC_BT709;
  out.codedPrimaries = primaries;
  out.codedTransfer = transfer;
}

// The frame's size as shown: its samples' shape applied (a DV or HDV clip's
// are not square).
void displaySize(const AVFrame &f, int &width, int &height) {
  width = f.width;
  height = f.height;
  AVRational sar = f.sample_aspect_ratio;
  if (sar.num <= 0 || sar.den <= 0 || sar.num == sar.den)
    return;
  double shape = double(sar.num) / sar.den;
  if (shape > 1)
    width = int(std::min(16384L, std::lround(width * shape)));
  else
    height = int(std::min(16384L, std::lround(height / shape)));
}

} // namespace

bool MakeClipPicture(Clip &c, DecodedPicture &out) {
  const AVFrame &f = *c.frame;
  bool deep = isHdr(f);
  int channels = 3, bytes = deep ? 2 : 1, width = 0, height = 0;
  displaySize(f, width, height);
  ShownSize shown =
      c.shown.maxSide > 0 ? c.shown : ShownSize{kFallbackMaxSide, 0};
  int64_t factor = ReductionFactor(width, height, channels, shown);
  int w = int((width + factor - 1) / factor);
  int h = int((height + factor - 1) / factor);
  if (f.width <= 0 || f.height <= 0 || w <= 0 || h <= 0)
    return false;
  AVPixelFormat to = deep ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24;
  c.scaler = ff.scaler(c.scaler, f.width, f.height, AVPixelFormat(f.format), w,
                       h, to, SWS_AREA, nullptr, nullptr, nullptr);
  if (c.scaler == nullptr)
    return false;
  // Where the conversion has no matrix (an RGB stream) this fails, and
  // does nothing.
  const int *matrix = ff.coefficients(matrixOf(f));
  ff.setColours(c.scaler, matrix, fullRange(f), matrix, 1, 0, 1 << 16, 1 << 16);
  size_t stride = size_t(w) * size_t(channels * bytes);
  c.pixels.resize(stride * size_t(h) + 64);
  uint8_t *planes[4] = {c.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {int(stride), 0, 0, 0};
  if (ff.scale(c.scaler, f.data, f.linesize, 0, f.height, planes, strides) != h)
    return false;
  out = {};
  out.pixels = c.pixels.data();
  out.width = w;
  out.height = h;
  out.channels = channels;
  out.stride = stride;
  out.bits = deep ? 16 : 8;
  out.orientation = c.orientation;
  describeColours(f, out);
  return true;
}

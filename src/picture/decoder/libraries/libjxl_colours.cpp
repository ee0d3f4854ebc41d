// libjxl: the colours of what it decoded.
#include <cstdlib>

#include "picture/decoder/libraries/libjxl_calls.h"
#include "picture/decoding_limits.h"

namespace {

// The profile calls of libjxl before 0.9 also take a pixel format, unused.
#if JPEGXL_NUMERIC_VERSION < JPEGXL_COMPUTE_NUMERIC_VERSION(0, 9, 0)
JxlDecoderStatus profileSize(JxlDecoder *d, size_t *size) {
  return jxl.profileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, size);
}
JxlDecoderStatus profile(JxlDecoder *d, unsigned char *to, size_t size) {
  return jxl.profile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, to, size);
}
JxlDecoderStatus encoded(JxlDecoder *d, JxlColorEncoding *to) {
  return jxl.encoded(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, to);
}
#else
JxlDecoderStatus profileSize(JxlDecoder *d, size_t *size) {
  return jxl.profileSize(d, JXL_COLOR_PROFILE_TARGET_DATA, size);
}
JxlDecoderStatus profile(JxlDecoder *d, unsigned char *to, size_t size) {
  return jxl.profile(d, JXL_COLOR_PROFILE_TARGET_DATA, to, size);
}
JxlDecoderStatus encoded(JxlDecoder *d, JxlColorEncoding *to) {
  return jxl.encoded(d, JXL_COLOR_PROFILE_TARGET_DATA, to);
}
#endif

// PQ and HLG pictures, as H.273 code points: their light is mapped for the
// screen rather than followed through the profile libjxl would describe
// them with (whose white is PQ's 10,000 cd/m²). Their peak is the header's
// intensity target, but for the 255 cjxl writes where it was given none.
bool takeHdrCodes(Decoding &d, DecodedPicture &out) {
  JxlColorEncoding e = {};
  if (encoded(d.decoder, &e) != JXL_DEC_SUCCESS ||
      (e.transfer_function != JXL_TRANSFER_FUNCTION_PQ &&
       e.transfer_function != JXL_TRANSFER_FUNCTION_HLG) ||
      e.white_point != JXL_WHITE_POINT_D65)
    return false;
  d.codedPrimaries = e.primaries == JXL_PRIMARIES_2100   ? 9
                     : e.primaries == JXL_PRIMARIES_P3   ? 12
                     : e.primaries == JXL_PRIMARIES_SRGB ? 1
                                                         : 0;
  d.codedTransfer = int(e.transfer_function); // H.273's numbers
  float target = d.info.intensity_target;
  d.peakNits = target == 255 ? 0 : double(target);
  if (d.codedPrimaries == 0) { // primaries not known here: its profile
    d.codedTransfer = 0;
    return false;
  }
  out.codedPrimaries = d.codedPrimaries;
  out.codedTransfer = d.codedTransfer;
  out.peakNits = d.peakNits;
  return true;
}

// The profile of the decoded pixels: the file's own, or the one libjxl
// describes its colour encoding with.
} // namespace

void TakeJxlColours(Decoding &d, DecodedPicture &out) {
  if (takeHdrCodes(d, out))
    return;
  size_t size = 0;
  if (profileSize(d.decoder, &size) != JXL_DEC_SUCCESS || size == 0 ||
      size > kMaxProfileBytes)
    return;
  d.profile = static_cast<unsigned char *>(std::malloc(size));
  if (d.profile != nullptr &&
      profile(d.decoder, d.profile, size) == JXL_DEC_SUCCESS) {
    out.icc = d.profile;
    out.iccSize = d.profileSize = size;
  }
}

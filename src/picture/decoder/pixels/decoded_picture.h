// A picture as a library decoded it, for what is done to its pixels before
// they go to the viewer: the colours (colour.h), the transparency
// (transparency.h), the hand-over (handover.h).
#pragma once

#include <cstddef>
#include <cstdint>

// A picture as a reader decoded it: `height` rows of `width` pixels of
// `channels` bytes (grey, grey + alpha, RGB, RGBA), top row first, `stride`
// bytes apart. Held by the reader until released.
struct DecodedPicture {
  const unsigned char *pixels = nullptr;
  int width = 0, height = 0, channels = 0;
  size_t stride = 0;
  // How the pixels are still to be turned to be shown, as an EXIF
  // Orientation (1: as they are). Set to the file's own before a reader
  // reads; a reader that turns the pixels itself says what is left.
  int orientation = 1;
  // 8 bits a channel, or 16 (native uint16_t) from a library that hands an
  // HDR picture over at 16 bits, kept until its light is mapped (hdr.h),
  // which makes it 8.
  int bits = 8;
  // Four channels of printing inks rather than RGBA (CMYK JPEGs), stored
  // as they are or inverted (Adobe's way).
  enum Inks { kNoInks, kCmyk, kCmykInverted } inks = kNoInks;
  // The colour profile, where the reader's library hands it over.
  const unsigned char *icc = nullptr;
  size_t iccSize = 0;
  // Or its colours as H.273 code points, where its library describes them
  // so (libjxl, for PQ and HLG), and its peak luminance in cd/m² where the
  // file gives one (0: none).
  int codedPrimaries = 0, codedTransfer = 0;
  double peakNits = 0;
  // A clip's frame: when it is due, in microseconds from the start of its
  // play.
  int64_t atUs = 0;
  void *owner = nullptr, *iccOwner = nullptr; // what the reader frees
};

// What a picture file's metadata says about showing it, read by a decoder
// from the whole file in memory: which way up it is shown, and which
// colours its pixels mean. Metadata that is damaged, cut short or claims
// more bytes than the file has counts as missing.
#pragma once

#include "picture/bytes.h"
#include "picture/kinds.h"

// What a file says about the colours its pixels mean.
struct ColourDescription {
  enum Source {
    kUntagged,         // nothing: taken as sRGB
    kSrgb,             // said to be sRGB
    kIcc,              // an ICC profile
    kCoded,            // ITU-T H.273 code points (PNG cICP, HEIF nclx)
    kGammaAndPrimaries // PNG gAMA, and cHRM where given
  } source = kUntagged;
  const unsigned char *icc = nullptr; // kIcc: the profile's bytes
  size_t iccSize = 0;
  int primaries = 0, transfer = 0; // kCoded
  // kGammaAndPrimaries: the exponent the stored values were encoded with,
  // and the white point and red, green and blue primaries as x, y (all 0
  // where cHRM is missing).
  double gamma = 0;
  double chromaticities[8] = {};
  // For HDR: the picture's peak luminance in cd/m², from its content light
  // level (PNG's cLLI, HEIF's and AVIF's clli: its brightest pixel) or else
  // its mastering display (mDCV, mdcv: that display's peak); 0: none.
  double peakNits = 0;
  void *owned = nullptr; // what the bytes are in, where put together here
};

struct PictureMetadata {
  int orientation = 1; // the EXIF Orientation, 1 (as stored) to 8
  ColourDescription colours;
};

// Reads a file that keeps its metadata `where`: in a JPEG the APP1 "Exif"
// and APP2 "ICC_PROFILE" segments; in a PNG the eXIf chunk (as current
// browsers read it) and cICP, iCCP, sRGB, gAMA and cHRM, in the order the
// PNG rules give them weight; in a WebP the EXIF and ICCP chunks; in HEIF
// and AVIF the colour ("colr") property. Frees nothing the file holds.
PictureMetadata ReadMetadata(MetadataIn where, const ByteSource &file);
void ReleaseMetadata(PictureMetadata &metadata);

// The Orientation tag (0x0112, one SHORT) of the first directory of TIFF
// structured data, as EXIF is; 1 where there is none.
int ExifOrientation(const unsigned char *tiff, size_t size);

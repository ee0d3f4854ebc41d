// The image libraries a decoder reads and plays pictures with, by id, their
// stills' readers tried in this order: each is a file of its own in
// decoder/libraries/, listed in libraries.cpp. A kind names those that may
// read it and the one that plays it as a mask of 1 << library (kinds.h); a
// command names those to try, and a result the one that read the picture.
#pragma once

#include <cstdint>

enum PictureReader : int32_t {
  kNoReader = -1, // in a result: the picture could not be read
  kSoil,
  kLibjpeg, // libjpeg-turbo
  kPixbuf,  // GdkPixbuf with its loaders
  kJxl,     // libjxl
  kRsvg,    // librsvg, for drawings
  kLibraw,  // LibRaw, for camera RAW photos
  kGiflib,  // giflib, for GIFs: one frame at a time
  kLibpng,  // libpng, for APNG's frames (its stills are SOIL's or GdkPixbuf's)
  kLibwebp, // libwebp's demuxer, for animated WebP
  kLibavif, // libavif, for AVIF image sequences and HDR stills
  kLibheif, // libheif, for HDR HEIFs
  kFfmpeg,  // FFmpeg's libavformat and libavcodec, for clips
  kLibraryCount
};
constexpr uint32_t kReadWithSoil = 1u << kSoil;
constexpr uint32_t kReadWithLibjpeg = 1u << kLibjpeg;
constexpr uint32_t kReadWithPixbuf = 1u << kPixbuf;
constexpr uint32_t kReadWithJxl = 1u << kJxl;
constexpr uint32_t kReadWithRsvg = 1u << kRsvg;
constexpr uint32_t kReadWithLibraw = 1u << kLibraw;
constexpr uint32_t kReadWithGiflib = 1u << kGiflib;
constexpr uint32_t kPlayWithGiflib = 1u << kGiflib;
constexpr uint32_t kPlayWithLibpng = 1u << kLibpng;
constexpr uint32_t kPlayWithLibwebp = 1u << kLibwebp;
constexpr uint32_t kPlayWithLibavif = 1u << kLibavif;
constexpr uint32_t kReadWithLibavif = 1u << kLibavif;
constexpr uint32_t kReadWithLibpng = 1u << kLibpng;
constexpr uint32_t kReadWithLibheif = 1u << kLibheif;
constexpr uint32_t kPlayWithJxl = 1u << kJxl;
// A clip has no reader of stills: its still is its first frame.
constexpr uint32_t kReadWithFfmpeg = 1u << kFfmpeg;
constexpr uint32_t kPlayWithFfmpeg = 1u << kFfmpeg;
// The readers whose libraries a decoder loads only when started for a
// picture that needs them (they take time to load, and open files); and
// those that decode a picture too large to show whole smaller themselves,
// for less work.
constexpr uint32_t kReadiedWhenNeeded = kReadWithPixbuf | kReadWithJxl |
                                        kReadWithRsvg | kReadWithLibraw |
                                        kPlayWithLibavif | kReadWithLibheif |
                                        kPlayWithFfmpeg;
constexpr uint32_t kDecodeSmaller = kReadWithLibjpeg;
// The readers that hand an HDR picture over at more than 8 bits, its
// transfer known: tried first for a picture whose metadata says it is one.
constexpr uint32_t kReadHdrDeeper =
    kReadWithLibavif | kReadWithLibpng | kReadWithJxl | kReadWithLibheif;

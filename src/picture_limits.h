// Every limit on decoding a picture, in one place. A decoder gets a CPU-time
// budget for each picture, worked out from what the picture can need (see
// picture_budget.cpp), and a fixed memory cap.
#pragma once

#include <cstdint>

// CPU budget = kBaseBudgetUs + pixels * format's ns per pixel * kBudgetSafety,
// at most kMaxBudgetUs. The base covers starting on a file and failing on
// it; the factor leaves room for slow machines and sanitizer builds.
constexpr int64_t kBaseBudgetUs = 200 * 1000;
constexpr int64_t kBudgetSafety = 8;
constexpr int64_t kMaxBudgetUs = 30 * 1000 * 1000;

// The viewer waits at most kWallFactor times a picture's CPU budget plus
// kWallSlackUs of wall time for it (decoders share the cores; a decoder that
// stops using CPU without answering is caught here).
constexpr int64_t kWallFactor = 4;
constexpr int64_t kWallSlackUs = 2 * 1000 * 1000;

// Address space a decoder may take on top of what it inherits.
constexpr uint64_t kDecoderMemoryBytes = uint64_t{1536} << 20;

// Largest decoded picture that comes back (width * height * channels):
// 64 megapixels with alpha. A picture that declares more is not decoded.
constexpr uint64_t kMaxPictureBytes = uint64_t{256} << 20;

// How many pictures' worth of pixels one byte of a file can expand to, and
// how fast the decoder turns out pixels, for each kind of file. Pixels per
// byte are upper bounds from the formats' best possible compression; the
// speeds were measured with SOIL on 2000 x 1500 to 6000 x 4000 pictures,
// the slowest kind of content for each (noise for JPEG: 43 ns a pixel).
struct FormatLimits {
  const char *name;
  double maxPixelsPerByte;
  double nsPerPixel;
};
// clang-format off
constexpr FormatLimits kFormatLimits[] = {
    //  name     pixels/byte   ns/pixel
    {"jpeg",     4096,         45},  // one 1-bit code a block, runs in progressive
    {"png",      8300,         30},  // deflate's 1032:1 at 1 bit a pixel
    {"gif",      4096,         30},  // LZW's longest strings
    {"bmp",       128,         15},  // RLE8: 255 pixels in 2 bytes
    {"psd",        64,         15},  // PackBits: 128 bytes in 2, per channel
    {"dds",         2,         15},  // DXT1: 16 pixels in 8 bytes
    {"hdr",        64,        100},  // run-length per channel
    {"other",      64,        100},  // TGA (RLE) and anything not recognised
};
// clang-format on

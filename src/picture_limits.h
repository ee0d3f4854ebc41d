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

// How many pixels one byte of a file can expand to, and how fast the
// decoders turn out pixels, for each kind of picture (picture_protocol.h), in
// that order. Pixels per byte are upper bounds from the formats' best
// possible compression. The speeds are the slower of SOIL and the second
// decoder (GdkPixbuf) where both read the kind, measured on 2000 x 1500 to
// 6000 x 4000 pictures of random noise, the slowest content to decode
// (JPEG: 43 ns a pixel with SOIL, 50 progressive with GdkPixbuf; GIF: 354;
// HEIF: 172 over all its threads).
struct FormatLimits {
  double maxPixelsPerByte;
  double nsPerPixel;
};
// clang-format off
constexpr FormatLimits kFormatLimits[] = {
    // pixels/byte  ns/pixel
    {4096,          50},   // JPEG: a 1-bit code a block, runs in progressive
    {8300,          30},   // PNG: deflate's 1032:1 at 1 bit a pixel
    {4096,         360},   // GIF: LZW's longest strings
    {128,           15},   // BMP: RLE8, 255 pixels in 2 bytes
    {64,            15},   // PSD: PackBits, 128 bytes in 2, per channel
    {2,             15},   // DDS: DXT1, 16 pixels in 8 bytes
    {64,           100},   // HDR: run-length per channel
    {8300,          30},   // TIFF: deflate at 1 bit a pixel
    {1e6,           80},   // WebP: lossless can hold huge plain areas
    {1e6,          180},   // HEIF: so can HEVC
    {1e6,          110},   // AVIF: and AV1
    {64,           100},   // TGA (RLE) and anything not recognised
};
// clang-format on

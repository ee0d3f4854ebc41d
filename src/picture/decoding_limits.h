// Every limit on loading pictures, in one place. A decoder gets a CPU-time
// budget for each picture, worked out from what the picture can need (see
// viewer/budget.cpp and the pixels per byte and nanoseconds per pixel of
// each kind in kinds.cpp), and a fixed memory cap.
#pragma once

#include <cstdint>

// A build for a machine whose cores are many times slower than a desktop's
// (an emulated one, where the tests run on another architecture: see
// scripts/arm64-machine-test) gives every CPU budget that many times the
// time. 1 everywhere else.
#ifndef VORLIX_CPU_SLOWNESS
#define VORLIX_CPU_SLOWNESS 1
#endif
constexpr int64_t kCpuSlowness = VORLIX_CPU_SLOWNESS;

// CPU budget = kBaseBudgetUs + pixels * kind's ns per pixel * kBudgetSafety,
// at most kMaxBudgetUs. The base covers starting on a file and failing on
// it; the factor leaves room for slow machines and sanitizer builds.
constexpr int64_t kBaseBudgetUs = 200 * 1000 * kCpuSlowness;
constexpr int64_t kBudgetSafety = 8 * kCpuSlowness;
constexpr int64_t kMaxBudgetUs = 30 * 1000 * 1000 * kCpuSlowness;
// An SVG drawing's cost is in what it draws, which neither its bytes nor
// the size it is drawn at tell: every drawing gets this budget, the time
// librsvg takes for a detailed one (a map, a diagram with filters) with a
// wide margin.
constexpr int64_t kDrawingBudgetUs = 2 * 1000 * 1000 * kCpuSlowness;
// An HDR picture's light is mapped after it is made as small as it is
// shown, at most a screen's pixels: 45 ns each for greys, up to 140 for a
// photo of saturated BT.2020 colours. A picture of a kind that may be HDR
// (PNG, HEIF, AVIF, JPEG XL) gets this, times kBudgetSafety, for each pixel
// it may show, on top.
constexpr double kHdrMappingNsPerPixel = 150;

// The viewer waits at most kWallFactor times a picture's CPU budget plus
// kWallSlackUs of wall time for it (decoders share the cores; a decoder that
// stops using CPU without answering is caught here).
constexpr int64_t kWallFactor = 4;
constexpr int64_t kWallSlackUs = 2 * 1000 * 1000;

// Starting a decoder costs a few milliseconds (a fork of the viewer): one is
// started for each this much expected decoding, up to one a core.
constexpr int64_t kWorkPerDecoderUs = 50 * 1000;

// Address space a decoder may take on top of what it inherits.
constexpr uint64_t kDecoderMemoryBytes = uint64_t{1536} << 20;

// Largest decoded picture that comes back (width * height * channels):
// 64 megapixels with alpha. A picture that declares more is not decoded.
constexpr uint64_t kMaxPictureBytes = uint64_t{256} << 20;

// The most pictures one load hands to its decoders.
constexpr int kMaxPictures = 16;

// The most segments or chunks of a file walked when looking for its size or
// metadata: far more than any real picture has before its picture data.
constexpr int kMaxPiecesWalked = 1000;

// The largest colour profile read, from a picture or from the screen: far
// more than a camera's, a display's or a printer's profile takes.
constexpr uint64_t kMaxProfileBytes = uint64_t{4} << 20;

// Pictures come back no larger than the screen can show them on a face
// (protocol.h: ShownSize): a picture at least twice as long as this share
// of the screen's height is made smaller, keeping at least this share.
constexpr int kKeptPercentOfScreenHeight = 90;

// The screen's height assumed where the viewer can't ask it.
constexpr int kFallbackScreenHeight = 1080;

// The largest texture assumed where the GL does not say (as every GL since
// 2004 has at least).
constexpr int kFallbackMaxSide = 4096;

// Animations. A frame whose delay is this short or shorter (often 0: "as
// fast as you can") is shown for kShortFrameShownMs instead, as browsers
// show it.
constexpr int kShortestDelayMs = 10;
constexpr int kShortFrameShownMs = 100;
// A frame due this late is shown at once and the clock starts from there,
// rather than hurrying the next ones to catch up.
constexpr int64_t kLateFrameUs = 50 * 1000;
// An animation's frames come as long as a face can be seen large: at most
// the window's height (its longer side at least half of it), so that they
// need no mipmaps.
constexpr int kFramePercentOfWindowHeight = 50;
// Clips. Each command (the first frame, then each next one) gets this CPU
// budget, counted over all the decoder's threads: opening a clip and
// finding its streams, or a frame and those dropped before it; a clip that
// makes its decoder loop is ended by it.
constexpr int64_t kClipBudgetUs = 3 * 1000 * 1000 * kCpuSlowness;
// What a clip's stream may declare (8K is 33 megapixels).
constexpr int64_t kMaxClipPixels = int64_t{8192} * 8192;
// The threads one clip decodes in (FFmpeg's own, started when it is
// opened): two, as the cores here; the cube wants them as well.
constexpr int kClipThreads = 2;
// A clip behind the clock drops what is late rather than play slowly:
// frames that aren't references while it is more than a frame behind, and
// a seek to the next key frame where it is this far behind; and it hands
// over the frame it has once dropping has taken this long.
constexpr int64_t kSeekWhenBehindUs = 1000 * 1000;
constexpr int64_t kMostDroppingUs = 150 * 1000;
// The most animations playing at once: one a face.
constexpr int kMaxAnimations = 6;

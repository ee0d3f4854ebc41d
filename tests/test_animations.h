// Animations written by the tests, byte by byte where the tools can't:
// animated PNGs (Debian has no APNG writer in its libpng), and GIFs of any
// number of frames, of any size and place. Frames of flat colour, each with
// its place, delay, and how it is drawn and disposed of; and ways to break
// the format.
#pragma once

#include <string>
#include <vector>

struct ApngTestFrame {
  unsigned char rgba[4];
  int x = 0, y = 0, width = 0, height = 0; // 0 x 0: the whole canvas
  int delayMs = 100;
  int dispose = 0; // 0 none, 1 to transparent, 2 to what was before
  int blend = 0;   // 0 replaces, 1 over
};

struct ApngTestOptions {
  int plays = 0;                // 0: for ever
  bool separateDefault = false; // a default image (grey) not in the animation
  int swapSequence = -1;        // the fcTL of this frame numbered as the next
  int gapBefore = -1;           // a number skipped before this frame's fcTL
  int repeatSequence = -1; // this frame's fcTL numbered as the chunk before
  int swapWithNext = -1;   // this frame's chunks after the next frame's
  int announced = -1;      // frames acTL announces (-1: those written)
  bool splitData = false;  // each fdAT frame's data in three fdATs, the
                           // middle one empty
  int dropFrameData = -1;  // this frame's data left out
  size_t cutAt = 0;        // the file cut to this many bytes (0: whole)
};

// RGBA, 8 bits; the canvas `width` x `height`.
std::string apng_bytes(int width, int height,
                       const std::vector<ApngTestFrame> &frames,
                       const ApngTestOptions &options = {});

// A GIF frame of one colour of the palette (red, green, blue, white).
struct GifTestFrame {
  int colour = 0;
  int x = 0, y = 0, width = 1, height = 1;
  int delayCs = 10; // hundredths of a second
};

// A GIF with a canvas of `width` x `height`, played for ever.
std::string gif_bytes(int width, int height,
                      const std::vector<GifTestFrame> &frames);

// APNG's chunks, read here (Debian's libpng reads only the default image):
// the animation's control chunk, and each frame's control and data, checked
// against the file's end, the canvas and the sequence the format numbers
// its chunks in. Nothing is decoded here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What an APNG says before its frames.
struct ApngHead {
  uint32_t width = 0, height = 0;      // the canvas
  uint32_t frames = 0, plays = 0;      // acTL: frames, and plays (0: for ever)
  const unsigned char *ihdr = nullptr; // IHDR's 13 bytes
  // Whole chunks every frame is decoded with: the palette and its
  // transparency, or the colour that is transparent.
  std::vector<std::pair<size_t, size_t>> shared; // offset, length
  size_t firstChunk = 0; // where the frames' walk starts
  // Whether the default image (the PNG's own IDAT) is the first frame: its
  // fcTL comes before it. Where it is not, the animation is its fcTL frames
  // alone.
  bool defaultIsFrame = false;
};

// One frame: where it goes, how long it shows, how it is drawn and what
// becomes of it, and its compressed data, in pieces.
struct ApngFrame {
  uint32_t width = 0, height = 0, x = 0, y = 0;
  uint32_t delayMs = 0;
  int dispose = 0; // 0 none, 1 to transparent, 2 to what was before
  int blend = 0;   // 0 replaces, 1 over what is there
  std::vector<std::pair<size_t, size_t>> data; // offset, length
};

// Reads a PNG's head; false where it is no animated PNG.
bool ReadApngHead(const unsigned char *file, size_t size, ApngHead &head);

// Reads the next frame from `at` (head.firstChunk to begin with), the
// chunks' sequence number going on from `sequence` (0 to begin with), and
// moves both past it. False at the end, and where the file breaks off or
// breaks the format (a number out of sequence, a frame outside the canvas,
// a frame without data).
bool ReadApngFrame(const unsigned char *file, size_t size, const ApngHead &head,
                   size_t &at, uint32_t &sequence, ApngFrame &frame);

// Whether the animation keeps the format's rules, walked from end to end
// without decoding: its frames' chunks in their one sequence (none missing,
// repeated or out of order), each frame with data and within the canvas,
// and as many frames as acTL announces. A file that breaks them is shown
// as its default image, as the format asks. One cut short (still arriving,
// or its end lost) keeps them as far as it goes: what arrived plays.
bool ApngKeepsTheRules(const unsigned char *file, size_t size,
                       const ApngHead &head);

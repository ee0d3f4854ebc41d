// What the viewer and its picture decoders say to each other.
//
// The viewer starts a decoder with two pipes and a shared memory area of two
// slots, each kMaxPictureBytes long. For every picture it writes one
// DecodeCommand down the command pipe; the decoder answers on the result
// pipe with one DecodeResult and, when it decoded the picture, leaves the
// pixels in the slot the command named, already flipped so that the first
// row is the picture's bottom row. The viewer names each slot in turn, so a
// decoder fills one slot while the viewer makes a texture from the other.
// A command with index -1, or the command pipe closing, ends the decoder.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

// The most pictures one load hands to its decoders.
constexpr int kMaxDecoderPictures = 16;

// What a picture file holds, as the viewer tells from its first bytes.
enum PictureKind : int32_t {
  kJpeg,
  kPng,
  kGif,
  kBmp,
  kPsd,
  kDds,
  kHdr,
  kTiff,
  kWebp,
  kHeif,
  kAvif,
  kOtherKind, // TGA (which has no signature) and anything not recognised
  kKinds
};

// Which decoders a command asks for: SOIL first, then the second decoder
// (GdkPixbuf) when SOIL can't read the picture. A decoder process has the
// second decoder for the kinds it was started with (picture_pixbuf.h).
enum : int32_t { kUseSoil = 1, kUseSecond = 2 };

struct DecodeCommand {
  int32_t index;       // which picture (its descriptor in the decoder's list)
  int32_t slot;        // 0 or 1
  int32_t kind;        // a PictureKind
  int32_t decoders;    // kUseSoil, kUseSecond or both
  int64_t fileBytes;   // the file's size, as the viewer found it
  int64_t cpuBudgetUs; // CPU time the decoder may spend on it
};

struct DecodeResult {
  int32_t index; // as in the command
  int32_t width; // 0 when the picture could not be decoded
  int32_t height;
  int32_t channels; // 1 to 4: grey, grey + alpha, RGB, RGBA
};

// Moves a whole message through a pipe: false when the pipe closed or broke.
inline bool TransferAll(int fd, void *message, size_t size, bool reading) {
  char *p = static_cast<char *>(message);
  while (size > 0) {
    ssize_t n = reading ? read(fd, p, size) : write(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= size_t(n);
  }
  return true;
}

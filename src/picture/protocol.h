// What the viewer and its picture decoders say to each other.
//
// A decoder is a program of its own, "vorlix-decode", which the viewer
// starts (posix_spawn: never a copy of the viewer) with an environment of
// its own and the descriptors it needs: its two pipes, the picture files
// the viewer opened, and shared memory of two slots, each kMaxPictureBytes
// long, followed by the screen's colour profile. Their numbers, and the
// rest of its set-up, are its arguments (DecoderArguments below). For
// every picture the viewer writes one DecodeCommand down the command pipe;
// the decoder answers on the result pipe with one DecodeResult and, when it
// decoded the picture, leaves the pixels in the slot the command named, as
// the picture is to be shown (turned as its metadata says, transparency
// over white), bottom row first, rows tightly packed (ready for
// glTexImage2D with an unpack alignment of 1). The viewer names each slot
// in turn, so a decoder fills one slot while the viewer makes a texture
// from the other. A command with index -1, or the command pipe closing,
// ends the decoder. Every answer is checked by the viewer before a byte of
// its slot is read (AcceptAnswer in viewer/decoder_processes.cpp).
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unistd.h>
#include <vector>

#include "picture/decoding_limits.h"
#include "picture/libraries.h"

// The decoder program: "vorlix-decode" beside the viewer at `viewer` (in a
// build tree) where it is there and can be run, else where it is installed,
// among the programs only other programs run (libexec).
std::string DecoderProgram(const std::string &viewer);

// A decoder's set-up, its command line: every argument a decimal number,
//   vorlix-decode VIEWER COMMANDS RESULTS SLOTS PROFILE READY BEHIND PICTURE...
// the viewer's process id (a decoder whose parent is not that viewer ends
// at once), its command and result pipes, the shared memory of its slots,
// the screen profile's size in bytes (0: none) after the slots, the kinds
// (1 << kind) to ready the readers readied when needed for, whether it
// decodes behind the frames at the lowest priority (1) or not (0), and a
// descriptor for each picture (-1 for none).
struct DecoderArguments {
  int64_t viewer = 0;
  int commands = -1, results = -1, slots = -1;
  int64_t profileBytes = 0;
  uint32_t readyKinds = 0;
  bool behind = false;
  int pictures[kMaxPictures];
  int pictureCount = 0;
};
// Bytes of the shared memory: two slots, then room for the profile.
constexpr uint64_t kSlotsBytes = 2 * kMaxPictureBytes + kMaxProfileBytes;

std::vector<std::string> FormatDecoderArguments(const DecoderArguments &a);
// False where they are not a decoder's arguments.
bool ParseDecoderArguments(int argc, const char *const argv[],
                           DecoderArguments &a);

// How large a decoded picture comes back. At most `maxSide` (the GL's
// largest texture) across and down, and within a slot (Fits). And no larger
// than the screen can show: a picture whose longer side is at least twice
// `keepSide` is made smaller by a whole factor, as far as its longer side
// keeps at least `keepSide` (0.9 of the screen's height: a face is at most
// about half the window's height, and the window at most the screen's).
// A `keepSide` of 0 keeps every picture as large as it fits.
struct ShownSize {
  int32_t maxSide;
  int32_t keepSide;
};

struct DecodeCommand {
  int32_t index;       // which picture (its descriptor in the decoder's list)
  int32_t slot;        // 0 or 1
  int32_t kind;        // a row of the picture kind table (kinds.h)
  uint32_t readers;    // which readers to try, 1 << PictureReader each
  int64_t fileBytes;   // the file's size, as the viewer found it
  int64_t cpuBudgetUs; // CPU time the decoder may spend on it
  ShownSize size;
  // 0: the picture, as a still (an animation's first frame). 1: the next
  // frame of its animation, composited, from its first frame on and round
  // again as often as the file says: a decoder asked for frames plays that
  // one picture only, one frame a command, and keeps nothing else.
  int32_t frame;
  // For a clip's next frame: how far its playing has gone by the viewer's
  // clock as the command is sent, in microseconds, counted over all its
  // plays; the frames that are due before then are dropped.
  int64_t playedUs;
  // For a frame of a Live Photo's motion (the MOV beside its photo, played
  // once): its photo, which the face rests on again once the motion has
  // played, decoded as the last frame. Its index (-1: none), kind and size.
  int32_t photo;
  int32_t photoKind;
  int64_t photoBytes;
};

// A command's fields of a Live Photo's photo, where there is none.
constexpr int32_t kNoPhoto = -1;

struct DecodeResult {
  int32_t index;  // as in the command
  int32_t reader; // the PictureReader that read it, or kNoReader
  int32_t width;  // 0 when the picture could not be read
  int32_t height;
  int32_t channels; // 1 to 4: grey, grey + alpha, RGB, RGBA
  // For a still: 1 where the picture is an animation of more than one
  // frame (its frames can be asked for). For a frame: how long it is shown,
  // in milliseconds, as the file says. A frame asked for that comes back
  // with no picture: the animation is over (played as often as it says, or
  // broken off), and rests on the frame last shown.
  int32_t moving;
  int32_t delayMs;
  // For a clip's frame: when it is due, in microseconds from the start of
  // its first play, counted over all its plays (clips keep their own
  // timestamps: a frame is shown at its time, whatever was dropped before
  // it).
  int64_t atUs;
  // Which play of its animation a frame is of, from 0.
  int32_t play;
};

// Whether a picture of this size fits in one slot.
inline bool FitsInSlot(int64_t width, int64_t height, int64_t channels) {
  return width > 0 && height > 0 && channels >= 1 && channels <= 4 &&
         uint64_t(width) * uint64_t(height) * uint64_t(channels) <=
             kMaxPictureBytes;
}

// Whether it fits in a slot and in a texture at most `maxSide` across and
// down. A picture that does not is decoded smaller, keeping its
// proportions, until it does.
inline bool Fits(int64_t width, int64_t height, int64_t channels,
                 int64_t maxSide) {
  return FitsInSlot(width, height, channels) && width <= maxSide &&
         height <= maxSide;
}

// The whole factor by which a picture is made smaller to come back: the
// largest by which its longer side keeps `keepSide`, or the smallest by
// which it fits, where that is larger (1: as it is). Each pixel of the
// smaller picture is the average of the factor x factor pixels it covers.
inline int64_t ReductionFactor(int64_t width, int64_t height, int64_t channels,
                               ShownSize size) {
  int64_t longer = width > height ? width : height, factor = 1;
  if (size.keepSide > 0 && longer / size.keepSide > 1)
    factor = longer / size.keepSide;
  while (factor < longer &&
         !Fits((width + factor - 1) / factor, (height + factor - 1) / factor,
               channels, size.maxSide))
    factor++;
  return factor;
}

// Moving whole messages through a pipe: false when the pipe closed or broke.
namespace protocol_detail {
inline bool transfer(int fd, char *p, size_t size, bool reading) {
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
} // namespace protocol_detail

template <typename Message> bool ReadMessage(int fd, Message &m) {
  return protocol_detail::transfer(fd, reinterpret_cast<char *>(&m), sizeof m,
                                   true);
}

template <typename Message> bool WriteMessage(int fd, Message m) {
  return protocol_detail::transfer(fd, reinterpret_cast<char *>(&m), sizeof m,
                                   false);
}

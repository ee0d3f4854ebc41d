// The decoder's work on one command (protocol.h): a picture as a still, or
// the next frame of its animation.
#pragma once

#include "picture/protocol.h"

// Reads the picture open on `fd` with the first of the readers the command
// names that can, and hands it over into the slot, answering in `r`. The
// first reader that makes a picture has the last word: one that does not
// fit is not handed to the next.
void DecodeStill(const DecodeCommand &c, int fd, unsigned char *slot,
                 DecodeResult &r);

// Hands over the next frame of the picture's animation, as a still is
// handed over: from its first frame on, at the first such command, and
// round again as often as the file says. A decoder plays one picture's
// animation: once it is over or broken, no frame comes again. A Motion
// Photo's clip, and a Live Photo's motion (its photo open on `photoFd`),
// play once and then hand over the photo again, as their last frame.
void DecodeNextFrame(const DecodeCommand &c, int fd, int photoFd,
                     unsigned char *slot, DecodeResult &r);

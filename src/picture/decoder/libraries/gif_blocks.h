// A GIF's blocks walked, without decoding (giflib decodes): how many images
// it holds and how often it is played, from NETSCAPE2.0's loop count (how
// often the animation is repeated after its first play, 0: for ever), as
// browsers read it.
#pragma once

#include <cstddef>

// The images found up to the second (0, 1 or 2), and how often the file is
// played: 0 for ever, else its plays (1 where it does not say).
int WalkGifBlocks(const unsigned char *file, size_t size, int &plays);

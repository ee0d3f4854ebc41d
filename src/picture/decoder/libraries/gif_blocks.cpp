#include "picture/decoder/libraries/gif_blocks.h"

#include <cstring>

namespace {

// Skips a run of sub-blocks from `at`; the offset after it, or 0 where the
// file ends first.
size_t skipBlocks(const unsigned char *file, size_t size, size_t at) {
  while (at < size && file[at] != 0)
    at += size_t(file[at]) + 1;
  return at < size ? at + 1 : 0;
}

// NETSCAPE2.0's loop count, in the sub-blocks at `at`: how often the
// animation is repeated after its first play (0: for ever), as browsers
// read it.
void readLoops(const unsigned char *file, size_t size, size_t at, int &plays) {
  if (at + 16 <= size && file[at] == 11 &&
      (!std::memcmp(file + at + 1, "NETSCAPE2.0", 11) ||
       !std::memcmp(file + at + 1, "ANIMEXTS1.0", 11)) &&
      file[at + 12] >= 3 && file[at + 13] == 1) {
    int repeats = file[at + 14] | file[at + 15] << 8;
    plays = repeats == 0 ? 0 : repeats + 1;
  }
}

} // namespace

int WalkGifBlocks(const unsigned char *file, size_t size, int &plays) {
  plays = 1;
  if (size < 13)
    return 0;
  size_t at = 13;
  if (file[10] & 0x80)
    at += size_t(3) << ((file[10] & 7) + 1);
  int images = 0;
  while (at != 0 && at < size && images < 2) {
    if (file[at] == 0x21 && at + 2 < size) { // an extension
      if (file[at + 1] == 0xff)
        readLoops(file, size, at + 2, plays);
      at = skipBlocks(file, size, at + 2);
    } else if (file[at] == 0x2c && at + 10 < size) { // an image
      size_t table =
          (file[at + 9] & 0x80) ? size_t(3) << ((file[at + 9] & 7) + 1) : 0;
      at = skipBlocks(file, size, at + 10 + table + 1);
      images += at != 0;
    } else {
      break;
    }
  }
  return images;
}

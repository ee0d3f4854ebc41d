// The decoder's second decoder: GdkPixbuf with its loaders, for pictures that
// SOIL does not read. It is loaded into a decoder process only when one of
// its pictures needs it, and before the sandbox goes on (it opens its
// library, its loader list and its loader modules).
#pragma once

#include <cstddef>

// Loads GdkPixbuf and the loader modules for the picture kinds in `kinds`
// (bit 1 << kind, see picture_protocol.h). Returns the kinds it can decode.
unsigned LoadPixbuf(unsigned kinds);

// Decodes a picture of a kind LoadPixbuf made ready: the first frame of an
// animation, as stored (no rotation from metadata), 8 bits a channel, RGB or
// RGBA. Writes the rows into `slot` bottom row first, at most `slotBytes`.
bool PixbufDecode(const unsigned char *data, size_t size, int kind,
                  unsigned char *slot, size_t slotBytes, int &width,
                  int &height, int &channels);

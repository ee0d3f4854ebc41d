// The one way decoded pixels reach the viewer.
#pragma once

#include "picture/decoder/colour.h"
#include "picture/decoder/readers.h"
#include "picture/protocol.h"

// Checks that `picture` fits in a slot and copies it there as it is to be
// shown, turned as its orientation says, bottom row first, as the protocol
// wants, converted to the screen's colours where `colours` is given; fills
// in the result's size. False when it does not fit (the result then says
// the picture could not be read).
bool HandOver(const DecodedPicture &picture, const ColourConversion *colours,
              unsigned char *slot, DecodeResult &result);

// The one way decoded pixels reach the viewer.
#pragma once

#include "picture/decoder/pixels/colour.h"
#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/protocol.h"

// Copies `picture` into a slot as it is to be shown, turned as its
// orientation says, bottom row first, as the protocol wants, converted to
// the screen's colours where `colours` is given, and made smaller where it
// is larger than `shown` (protocol.h: ShownSize, ReductionFactor); fills in
// the result's size. False when the picture is not one (the result then
// says the picture could not be read).
bool HandOver(const DecodedPicture &picture, const ColourConversion *colours,
              ShownSize shown, unsigned char *slot, DecodeResult &result);

// Makes a picture (8 or 16 bits) `factor` times smaller in place, as
// HandOver would, for what is done to each of its pixels before it
// (mapping HDR's light): done to those shown, not to every one decoded.
void MakeSmallerInPlace(DecodedPicture &picture, int factor);

// What a face shows where its picture is transparent: white, as a browser's
// page shows it. Blending stays off in the viewer, so a decoder composites
// each pixel over white by its alpha before the hand-over, and hands over no
// alpha at all.
#pragma once

#include "picture/decoder/pixels/decoded_picture.h"

// Composites a picture with alpha (grey + alpha, RGBA) over white in place,
// in the values as its reader decoded them, and leaves it without its alpha
// channel (grey, RGB); other pictures are left as they are. Where
// `unusedAlpha` (kinds.h) and every alpha is 0, the alpha is only dropped.
// An opaque pixel keeps its values exactly.
void ShowOverWhite(DecodedPicture &picture, bool unusedAlpha);

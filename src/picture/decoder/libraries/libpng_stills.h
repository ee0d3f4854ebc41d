// libpng's reader of PNG stills, for HDR PNGs (their metadata PQ or HLG):
// a 16-bit one without alpha handed over at 16 bits, kept until its light
// is mapped (SOIL reads every PNG at 8).
#pragma once

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/protocol.h"

bool LibpngRead(const unsigned char *file, size_t size, int kind,
                ShownSize shown, DecodedPicture &out);
void LibpngRelease(DecodedPicture &picture);

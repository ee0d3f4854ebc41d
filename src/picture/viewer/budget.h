// How much CPU time a picture file may take to decode (see decoding_limits.h).
#pragma once

#include <cstdint>

// The budget in microseconds for the regular file open on fd, `bytes` long,
// of `kind` (a row of the kind table), from the size its header declares
// and what its bytes can expand to. -1 when its header declares a picture
// too large to come back (more than kMaxPictureBytes even at one byte a
// pixel).
int64_t PictureBudgetUs(int fd, int64_t bytes, int kind);

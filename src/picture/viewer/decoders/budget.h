// How much CPU time a picture file may take to decode (see decoding_limits.h).
#pragma once

#include <cstdint>

// The budget in microseconds for the regular file open on fd, `bytes` long,
// of `kind` (a row of the kind table), from the work its decoding takes: the
// size its header declares, but never more than its bytes can hold, and
// less where a reader decodes a picture larger than a slot or a texture at
// most `maxSide` across smaller. -1 when its header declares a picture of
// more than kMaxPictureBytes pixels that its bytes can't hold: such a file
// is not decoded at all.
int64_t PictureBudgetUs(int fd, int64_t bytes, int kind, int maxSide);

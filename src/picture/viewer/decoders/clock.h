// The one clock of the viewer's show, decoders and animations: monotonic,
// in microseconds, without the time the viewer was stopped by SIGTSTP (a
// photo frame's night, or a shell's ^Z): after it, the show and its
// animations go on where they were, and no decoder is thought late.
#pragma once

#include <cstdint>

int64_t NowUs();

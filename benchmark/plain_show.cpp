// The plain program shows its six pictures and nothing else: no show, no
// animations.
#include "picture/viewer/animations/animations.h"
#include "show/show.h"

void ShowNextPictures(unsigned int *, float, float, float) {}
void AdvanceAnimations(const unsigned *, float, float, float) {}

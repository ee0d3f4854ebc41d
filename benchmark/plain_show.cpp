// The plain program shows its six pictures and nothing else.
#include "show/show.h"

void ShowNextPictures(unsigned int *, float, float, float) {}

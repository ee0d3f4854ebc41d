// The show: every picture of the launcher's list (show_list.h) on the cube
// in turn, each seen once a round, in the list's order (or shuffled anew
// each round). A face takes the next picture only while it is turned away
// from the eye, and only once its own picture has been on show for the
// list's time, of the clock (a clip until it has played through once, at
// most the list's longest time for a clip); pictures are decoded ahead, behind
// the frames (picture/viewer/show_ahead/decoding_ahead.h). A picture that can't
// be shown is skipped.
#pragma once

// Called by the frame with the angles it is about to be drawn at, before it
// draws: gives faces turned away their next pictures, in `texture` (the
// scene's texture table). Does nothing where the viewer was given no list;
// the first frame is never held up by it.
void ShowNextPictures(unsigned int texture[6], float xRot, float yRot,
                      float zRot);

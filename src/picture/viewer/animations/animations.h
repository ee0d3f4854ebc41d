// Animated pictures playing on their faces. Each plays in a decoder process
// of its own (protocol.h), started once the picture's first frame is on its
// faces and ended when it has played as often as its file says, when its
// faces take other pictures, or when it fails; the frames come one or two
// ahead through the decoder's two slots and each is shown for its own
// delay, by the clock, while one of its faces is turned towards the eye.
// Its textures keep their names: a frame changes their image. A face's
// picture left still (its decoder failed, say) keeps the frame last shown.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/viewer/decoders/decoding.h"

// A picture to play, as the viewer opened it.
struct AnimationSource {
  int fd; // taken over: closed when the animation ends
  int64_t bytes;
  int kind;
  int64_t frameBudgetUs;              // CPU time a frame may take
  const unsigned char *screenProfile; // copied here
  size_t screenProfileSize;
  // Where the picture is a Live Photo's motion (its MOV), the photo: the
  // motion plays once, and the face rests on the photo. Taken over as `fd`
  // is; fd -1 for none.
  OpenedPicture photo;
};

// Plays the picture on these textures (its first frame on them already):
// its decoder starts once that frame has been drawn. False where no more
// can play (the descriptor is closed then).
bool PlayAnimation(const AnimationSource &source, const unsigned names[],
                   int count);

// Ends what plays on the texture (before it is deleted, or given another
// picture); the others it plays on play on.
void StopAnimationOn(unsigned name);
void StopAllAnimations();

// Shows every frame that is due, and asks for the next, for the
// animations on a face turned towards the eye (the faces' textures
// `texture`, the cube turned by these angles); the others stand still.
// Once a frame, from the frame routine; never waits.
void AdvanceAnimations(const unsigned texture[6], float xRot, float yRot,
                       float zRot);

// Whether a clip plays on the texture that has not played through once yet
// (a clip that has ended, or failed, has).
bool ClipInItsFirstPlay(unsigned name);

// How many play now.
int AnimationsPlaying();

// Decoding ahead, for the show (show/show.h): one picture at a time, in a
// sandboxed decoder process of its own that works behind the frames at the
// lowest CPU priority, as the load at start does (load_at_start.h) but never
// waiting: every call does only what is ready, so it can be made inside a
// frame. Its texture is made in the frame its answer comes.
#pragma once

#include <string>

#include "picture/viewer/animations/animations.h"

// Starts decoding the picture at `path`, the show's picture `picture`;
// false when one is being decoded already.
// A Live Photo's `motion`, where it is not empty, is opened beside it, to
// be played once it shows (TakeDecodedAhead).
bool StartDecodingAhead(const std::string &path, const std::string &motion,
                        int picture);

// Whether a picture is being decoded.
bool IsDecodingAhead();

// Takes the answer of the picture being decoded, if it has come (or its
// decoder failed, or ran past its deadline): true then, with `picture` the
// show's number and `texture` a new texture made of it, as the load makes
// one, or 0 where it could not be read; and where it is an animation,
// `moving` to play it from (else its fd is -1). Needs the viewer's GL
// context.
bool TakeDecodedAhead(int &picture, unsigned &texture, AnimationSource &moving);

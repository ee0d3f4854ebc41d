// A stand-in for the decoder program that lies to the viewer, for the
// picture loader's test: `lying_decoder LIE PICTURE` followed by a
// decoder's arguments (protocol.h) answers, from the real decoder's set-up
// and sandbox, with a 2 x 2 picture for every command, grey by the number
// of commands it has served (16 for the first), and one lie about picture
// PICTURE.
#pragma once

// What it tells the viewer about that picture.
enum Lie {
  kNone,
  kOtherPicture,
  kPastTheSlot,
  kReaderNotAsked,
  kReaderPastTheTable,
  kReaderNegative,
  kNoChannels,
  kFiveChannels,
  kAnswerCutShort,
  kSilence
};

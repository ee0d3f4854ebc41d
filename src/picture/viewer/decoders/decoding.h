// What every use of a decoder shares (the load at start, the show's
// decoding ahead, animations): one opener of a picture, and one way to take
// a decoder's answer. Each use keeps only what is its own: which faces,
// which picture next, when a frame is due.
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "picture/kinds.h"
#include "picture/viewer/decoders/decoder_processes.h"

// A picture opened to be decoded.
struct OpenedPicture {
  int fd = -1; // -1: no picture to decode
  int64_t bytes = 0;
  int32_t kind = kNotAPicture;
  int64_t budgetUs = -1; // -1: not to be decoded at all (budget.h)
  dev_t device = 0;      // which file it is
  ino_t inode = 0;
};

// Opens the picture at `path`, to come back at most `maxSide` across: only a
// regular file that is not empty stays open (a FIFO would block), its kind
// told by its content, its budget from its size and header. Never blocks on
// the file itself, but an open or a read of a slow disk may take long.
OpenedPicture OpenPicture(const char *path, int maxSide);
void ClosePicture(OpenedPicture &p);

// A Live Photo's motion: the clip at `path`, opened as OpenPicture does,
// where `photo` is a JPEG or HEIC photo and the file a clip (else fd -1).
OpenedPicture OpenMotion(const char *path, const OpenedPicture &photo);
// Where the viewer finds a Live Photo's motion beside its photo at `path`:
// the same name, ending ".mov" or ".MOV" in place of its own ending.
OpenedPicture OpenMotionBeside(const char *path, const OpenedPicture &photo);

// Hands a decoder the picture open at index 0 of its descriptors (or
// `index`) to decode as a still, with the readers asked, within the
// picture's budget; false where it can't be told (it is stopped then).
bool SendStill(DecoderProcess &d, int index, const OpenedPicture &p,
               uint32_t readers, ShownSize size);

enum class Answer { kNotYet, kTaken, kFailed };
// Takes the answer of a decoder at work, never waiting: kTaken with `r`
// once it has come and is believed (AcceptAnswer); kFailed where the
// decoder died, lied, sent half an answer or ran past its deadline; kNotYet
// while it is still within its time.
Answer TakeAnswer(DecoderProcess &d, int maxSide, DecodeResult &r);

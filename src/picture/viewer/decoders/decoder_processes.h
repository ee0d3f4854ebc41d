// The viewer's side of its decoder processes: starting one (the program
// vorlix-decode, protocol.h), handing it a picture, waiting for the answers
// of those at work within their deadlines, reading an answer, and stopping
// one.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include "picture/decoding_limits.h"
#include "picture/protocol.h"

// One decoder process and what it is working on.
struct DecoderProcess {
  pid_t pid = -1;
  int commands = -1, results = -1; // the viewer's ends of its pipes
  // Its two slots and the screen's profile after them: shared memory, its
  // own, mapped here and handed to it.
  int slotsFd = -1;
  unsigned char *slots = nullptr;
  // Kinds its readers that are readied only when needed are ready for.
  unsigned readyKinds = 0;
  int picture = -1;     // the picture it decodes, or -1
  uint32_t readers = 0; // the readers it was asked to try
  int slot = 0;         // the slot it decodes into
  int64_t deadlineUs = 0;
};

// What every decoder of a load is started with.
struct DecoderJob {
  const int *pictures; // the pictures' descriptors, -1 for none
  int pictureCount;
  const unsigned char *screenProfile; // the screen's colour profile, or null
  size_t screenProfileSize;
  // Whether it decodes behind the viewer's frames, at the lowest CPU
  // priority (nice 19), as it does the pictures of a show ahead of time.
  bool behind;
};

// Gives a decoder its slots (shared memory of its own), and takes them
// back; false where there is no memory for them.
bool MakeSlots(DecoderProcess &d);
void FreeSlots(DecoderProcess &d);

// Starts `d` as a new decoder process for `job`, readying the readers
// readied only when needed for `readyKinds`. False when it can't be
// started (the decoder program missing, say).
bool StartDecoder(DecoderProcess &d, const DecoderJob &job,
                  unsigned readyKinds);

// The decoder program started, from now on, in place of vorlix-decode (for
// tests that play other decoders).
void UseDecoderProgram(const char *path);

// Ends it: a decoder waiting for work ends when its pipes close; one at
// work is killed where `killIt`.
void StopDecoder(DecoderProcess &d, bool killIt);

// Ends it as StopDecoder does, but without waiting for it to be gone: it is
// reaped by a later ReapDecodersLetGo. For the show, whose frames never
// wait.
void LetDecoderGo(DecoderProcess &d, bool killIt);
void ReapDecodersLetGo();

// Hands it a picture to decode into its other slot, and gives it `wallUs`
// from now to answer. False when it can't be told: it is stopped then.
bool SendPicture(DecoderProcess &d, DecodeCommand c, int64_t wallUs);

// The decoders of a load, each with its slots.
struct DecoderPool {
  DecoderProcess decoders[kMaxPictures];
  int count = 0;
  struct sigaction previousSigpipe = {};
};

// Makes a pool for `pictures` pictures expected to take `expectedUs` of
// decoding: as many decoders as cores, unless the pictures are few or small
// (starting one costs a few milliseconds), their readers readied when
// needed ready for `readyKinds` once started, each with its slots. SIGPIPE is
// ignored meanwhile: a decoder that dies makes writing to it fail instead of
// ending the viewer.
void MakePool(DecoderPool &pool, int pictures, int64_t expectedUs,
              unsigned readyKinds);
// Stops every decoder (killing those still at work) and gives the slots
// back.
void ReleasePool(DecoderPool &pool);

// Waits until a decoder at work answers or the earliest deadline passes.
// Lists those at work in `busy` (indices into the pool's decoders); their
// answers are taken with TakeAnswer (decoding.h). Returns how many are at
// work: 0 when none is, -1 when waiting failed.
int WaitForAnswers(const DecoderPool &pool, int busy[]);

// Reads the answer of a decoder that answered; false when it sent none
// whole (an answer is one small write: it arrives whole or not at all).
bool ReadAnswer(const DecoderProcess &d, DecodeResult &r);

// Whether a decoder at work has run past its deadline.
bool PastDeadline(const DecoderProcess &d);

// Whether a decoder's answer can be believed: about the picture it was
// given, and, where it says a picture was read, read by one of the readers
// asked and fitting in a slot and a texture at most `maxSide` across and
// down. The one place an answer is checked, before a byte of its slot is
// read.
bool AcceptAnswer(const DecoderProcess &d, const DecodeResult &r, int maxSide);

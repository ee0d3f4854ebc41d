// The decoder's side: a program of its own, started by the viewer, that
// reads pictures from descriptors it was handed, inside a sandbox
// (sandbox.h), and hands the pixels back as protocol.h describes.
#pragma once

#include <cstddef>

#include "picture/decoder/process/sandbox.h"
#include "picture/protocol.h"

// What a decoder process is started with.
struct DecoderSetup {
  DecoderFds fds;
  unsigned char *slots; // the shared area of two slots
  // Kinds (1 << kind) to ready the readers that are readied only when
  // needed for (libraries/library.h).
  unsigned readyKinds;
  // The screen's colour profile, as the viewer read it (none: null).
  const unsigned char *screenProfile;
  size_t screenProfileSize;
  // Whether it decodes behind the viewer's frames, at the lowest CPU
  // priority (nice 19), as it does the pictures of a show ahead of time.
  bool behind;
};

// What a decoder does first, from its arguments: it dies with the viewer
// that started it, however the viewer ends (and ends at once where its
// parent is no longer that viewer: one that died while it started), lowers
// its priority where it decodes behind the frames, and maps its slots and
// the screen's profile. False where any of it fails: it must then exit.
bool SetUpDecoder(const DecoderArguments &arguments, DecoderSetup &setup);

// Then: readies the readers it was asked to, enters the sandbox and serves
// commands until told to stop, then exits. Never returns.
[[noreturn]] void DecoderMain(const DecoderSetup &setup);

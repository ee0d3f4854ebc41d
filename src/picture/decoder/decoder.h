// The decoder's side: a child process of the viewer that reads pictures from
// descriptors it was handed, inside a sandbox (sandbox.h), and hands the
// pixels back as protocol.h describes.
#pragma once

#include <cstddef>

// The descriptors a decoder keeps: all it may use once in its sandbox.
struct DecoderFds {
  int commands;        // read from: the viewer's commands
  int results;         // written to: the decoder's answers
  const int *pictures; // mapped to be read: the picture files, -1 for none
  int pictureCount;
};

// What a decoder process is started with.
struct DecoderSetup {
  DecoderFds fds;
  unsigned char *slots; // the shared area of two slots
  // Kinds (1 << kind) to ready the readers that are readied only when
  // needed for (readers.h).
  unsigned readyKinds;
  // The screen's colour profile, as the viewer read it (none: null).
  const unsigned char *screenProfile;
  size_t screenProfileSize;
  // Whether it decodes behind the viewer's frames, at the lowest CPU
  // priority (nice 19), as it does the pictures of a show ahead of time.
  bool behind;
};

// The decoder process, right after the fork: readies the readers it was
// asked to, enters the sandbox and serves commands until told to stop, then
// exits. Never returns.
[[noreturn]] void DecoderMain(const DecoderSetup &setup);

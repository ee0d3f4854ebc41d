// The decoder's side: a child process of the viewer that reads pictures from
// descriptors it was handed, inside a sandbox (sandbox.h), and hands the
// pixels back as protocol.h describes.
#pragma once

// What a decoder process is started with.
struct DecoderSetup {
  int commands, results; // its ends of the two pipes
  const int *pictures;   // the open file of picture i, or -1
  int count;
  unsigned char *slots; // the shared area of two slots
  unsigned pixbufKinds; // kinds (1 << kind) to ready GdkPixbuf for
};

// The decoder process, right after the fork: readies GdkPixbuf if asked,
// enters the sandbox and serves commands until told to stop, then exits.
// Never returns.
[[noreturn]] void DecoderMain(const DecoderSetup &setup);

// The decoder's side: a child process of the viewer that decodes pictures
// from descriptors it was handed, inside a sandbox, and hands the pixels
// back as picture_protocol.h describes.
#pragma once

// Gives up everything a decoder does not need: standard input and output go
// to /dev/null, every descriptor but the `count` in `keep` is closed, no new
// privileges can be gained, core files and address space are limited, and a
// seccomp filter then allows only reading and writing the open descriptors,
// managing memory, a CPU timer and exit. Any other system call kills the
// process with SIGSYS. False when the sandbox could not be set up.
bool EnterDecoderSandbox(const int keep[], int count);

// What a decoder process is started with.
struct DecoderSetup {
  int commands, results; // its ends of the two pipes
  const int *pictures;   // the open file of picture i, or -1
  int count;
  unsigned char *slots; // the shared area of two slots
  unsigned secondKinds; // kinds (1 << PictureKind) to ready GdkPixbuf for
};

// The decoder process, right after the fork: readies the second decoder if
// asked, enters the sandbox and serves commands until told to stop, then
// exits. Never returns.
[[noreturn]] void DecoderMain(const DecoderSetup &setup);

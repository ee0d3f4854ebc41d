// The decoder's sandbox: what a decoder process gives up before it reads a
// byte of a picture.
#pragma once

// The descriptors a decoder keeps: all it may use once in its sandbox.
struct DecoderFds {
  int commands;        // read from: the viewer's commands
  int results;         // written to: the decoder's answers
  const int *pictures; // mapped to be read: the picture files, -1 for none
  int pictureCount;
};

// Points standard input, output and error at /dev/null (but for any of them
// that is one of `fds`): a failing decoder may print (an assertion message,
// a library's warning), and the viewer prints nothing. The first thing a
// decoder does. False when it can't.
bool SilenceOutput(const DecoderFds &fds);

// Gives up everything a decoder does not need: every descriptor but those in
// `fds` is closed (and checked to be, with 0 to 2 on /dev/null), no new
// privileges can be gained, core files and address space are limited, and a
// seccomp filter then allows only reading commands, writing answers, mapping
// the pictures, managing memory, threads, a CPU timer and exit. Any other
// system call, or a read or write on another descriptor, kills the process
// with SIGSYS. A decoder readied for drawings (`drawings`) may also ask
// for random numbers and whether a file is there, and its attempts to open
// a file fail with an error rather than kill it (what librsvg and its text
// layout do, see the rules). False when any step failed: the decoder must
// then exit.
bool EnterDecoderSandbox(const DecoderFds &fds, bool drawings);

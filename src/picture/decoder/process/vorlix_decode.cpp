// vorlix-decode: the picture decoder, a program the viewer starts (never
// run by people). Its arguments are its set-up (protocol.h); it prints
// nothing and ends when the viewer closes its command pipe or ends.
#include <cstdlib>

#include "picture/decoder/process/decoder.h"
#include "picture/protocol.h"

int main(int argc, char *argv[]) {
  DecoderArguments arguments;
  DecoderSetup setup = {};
  if (!ParseDecoderArguments(argc, argv, arguments) ||
      !SetUpDecoder(arguments, setup))
    return 1;
  DecoderMain(setup);
}

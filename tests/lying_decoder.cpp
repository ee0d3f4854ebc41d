// The stand-in decoder that lies (lying_decoder.h).
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "lying_decoder.h"
#include "picture/decoder/process/decoder.h"
#include "picture/decoder/process/sandbox.h"
#include "picture/protocol.h"

int main(int argc, char *argv[]) {
  if (argc < 3)
    return 1;
  Lie lie = Lie(std::atoi(argv[1]));
  int liedAbout = std::atoi(argv[2]);
  DecoderArguments arguments;
  DecoderSetup setup = {};
  if (!ParseDecoderArguments(argc - 2, argv + 2, arguments) ||
      !SetUpDecoder(arguments, setup))
    return 1;
  const DecoderFds &fds = setup.fds;
  if (!SilenceOutput(fds) || !EnterDecoderSandbox(fds, false))
    _exit(1);
  DecodeCommand c;
  for (int served = 1; ReadMessage(fds.commands, c) && c.index >= 0; served++) {
    std::memset(setup.slots + size_t(c.slot) * kMaxPictureBytes, 16 * served,
                12);
    DecodeResult r = {c.index, kSoil, 2, 2, 3, 0, 0, 0, 0};
    bool liesNow = c.index == liedAbout;
    if (liesNow && lie == kOtherPicture)
      r.index = (c.index + 1) % fds.pictureCount;
    if (liesNow && lie == kPastTheSlot) { // 1 GiB, a size a texture can have
      r.width = r.height = 1 << 14;
      r.channels = 4;
    }
    if (liesNow && lie == kReaderNotAsked)
      r.reader = kPixbuf;
    if (liesNow && (lie == kReaderPastTheTable || lie == kReaderNegative))
      r.reader = lie == kReaderNegative ? -2 : kLibraryCount;
    if (liesNow && (lie == kNoChannels || lie == kFiveChannels))
      r.channels = lie == kNoChannels ? 0 : 5;
    if (liesNow && lie == kAnswerCutShort) { // all but its channels
      if (write(fds.results, &r, offsetof(DecodeResult, channels)) < 0)
        break;
      continue;
    }
    if (liesNow && lie == kSilence)
      continue;
    if (!WriteMessage(fds.results, r))
      break;
  }
  _exit(0);
}

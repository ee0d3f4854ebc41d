#include "picture/decoder/decoder.h"

#include <climits>
#include <sys/mman.h>
#include <sys/time.h>
#include <unistd.h>

#include "picture/decoder/handover.h"
#include "picture/decoder/pixbuf_reader.h"
#include "picture/decoder/readers.h"
#include "picture/decoder/sandbox.h"
#include "picture/kinds.h"
#include "picture/protocol.h"

namespace {

// The readers, in the order they are tried (PictureReader).
struct Reader {
  bool (*read)(const unsigned char *file, size_t size, int kind,
               DecodedPicture &out);
  void (*release)(DecodedPicture &picture);
};
const Reader kReaderTable[kReaders] = {
    {SoilRead, SoilRelease},
    {LibjpegRead, LibjpegRelease},
    {PixbufRead, PixbufRelease},
};

void setCpuTimer(int64_t us) {
  itimerval t = {};
  t.it_value.tv_sec = us / 1000000;
  t.it_value.tv_usec = us % 1000000;
  setitimer(ITIMER_PROF, &t, nullptr);
}

// Reads one picture with the first of the command's readers that can, and
// hands it over into the slot. The first reader that makes a picture has the
// last word: one that does not fit is not handed to the next.
void decode(const DecodeCommand &c, int fd, unsigned char *slot,
            DecodeResult &r) {
  if (c.fileBytes <= 0 || c.fileBytes > INT_MAX || c.kind < 0 ||
      c.kind >= kPictureKindCount)
    return;
  size_t bytes = size_t(c.fileBytes);
  void *mapped = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED)
    return;
  const unsigned char *file = static_cast<unsigned char *>(mapped);
  int (*orientationOf)(const unsigned char *, size_t) =
      kPictureKinds[c.kind].orientation;
  int orientation = orientationOf ? orientationOf(file, bytes) : 1;
  for (int reader = 0; reader < kReaders; reader++) {
    DecodedPicture picture;
    picture.orientation = orientation;
    if (!(c.readers & (1u << reader)) ||
        !kReaderTable[reader].read(file, bytes, c.kind, picture))
      continue;
    if (HandOver(picture, slot, r))
      r.reader = reader;
    kReaderTable[reader].release(picture);
    break;
  }
  munmap(mapped, bytes);
}

} // namespace

void DecoderMain(const DecoderSetup &setup) {
  DecoderFds fds = {setup.commands, setup.results, setup.pictures, setup.count};
  if (!SilenceOutput(fds))
    _exit(1);
  if (setup.pixbufKinds != 0)
    LoadPixbuf(setup.pixbufKinds);
  if (!EnterDecoderSandbox(fds))
    _exit(1);

  DecodeCommand c;
  while (ReadMessage(setup.commands, c) && c.index >= 0 &&
         c.index < setup.count) {
    DecodeResult r = {c.index, kNoReader, 0, 0, 0};
    // Past its budget the timer's signal ends this process.
    setCpuTimer(c.cpuBudgetUs);
    decode(c, setup.pictures[c.index],
           setup.slots + size_t(c.slot & 1) * kMaxPictureBytes, r);
    setCpuTimer(0);
    if (!WriteMessage(setup.results, r))
      break;
  }
  _exit(0);
}

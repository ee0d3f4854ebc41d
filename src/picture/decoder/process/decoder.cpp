// A decoder process: its set-up from its arguments, the readying of its
// libraries, its sandbox, and the commands it serves until told to stop.
#include "picture/decoder/process/decoder.h"

#include <csignal>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include "picture/decoder/libraries/library.h"
#include "picture/decoder/pixels/colour.h"
#include "picture/decoder/process/decode_picture.h"
#include "picture/decoder/process/sandbox.h"
#include "picture/protocol.h"

namespace {

void setCpuTimer(int64_t us) {
  itimerval t = {};
  t.it_value.tv_sec = us / 1000000;
  t.it_value.tv_usec = us % 1000000;
  setitimer(ITIMER_PROF, &t, nullptr);
}

} // namespace

bool SetUpDecoder(const DecoderArguments &a, DecoderSetup &setup) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != pid_t(a.viewer) ||
      (a.behind && setpriority(PRIO_PROCESS, 0, 19) != 0))
    return false;
  // The slots, shared with the viewer, and the profile after them.
  void *slots = mmap(nullptr, kSlotsBytes, PROT_READ | PROT_WRITE, MAP_SHARED,
                     a.slots, 0);
  close(a.slots);
  if (slots == MAP_FAILED)
    return false;
  setup.fds = {a.commands, a.results, a.pictures, a.pictureCount};
  setup.slots = static_cast<unsigned char *>(slots);
  setup.readyKinds = a.readyKinds;
  setup.screenProfile =
      a.profileBytes > 0 ? setup.slots + 2 * kMaxPictureBytes : nullptr;
  setup.screenProfileSize = size_t(a.profileBytes);
  setup.behind = a.behind;
  return true;
}

void DecoderMain(const DecoderSetup &setup) {
  const DecoderFds &fds = setup.fds;
  if (!SilenceOutput(fds))
    _exit(1);
  ReadyLibraries(setup.readyKinds);
  if (!EnterDecoderSandbox(fds, ServesAny(kRsvg)))
    _exit(1);
  UseScreenProfile(setup.screenProfile, setup.screenProfileSize);

  DecodeCommand c;
  while (ReadMessage(fds.commands, c) && c.index >= 0 &&
         c.index < fds.pictureCount) {
    DecodeResult r = {c.index, kNoReader, 0, 0, 0, 0, 0, 0, 0};
    // Past its budget (a picture's, or an animation frame's) the timer's
    // signal ends this process.
    setCpuTimer(c.cpuBudgetUs);
    unsigned char *slot = setup.slots + size_t(c.slot & 1) * kMaxPictureBytes;
    bool photo = c.photo >= 0 && c.photo < fds.pictureCount;
    if (c.frame != 0)
      DecodeNextFrame(c, fds.pictures[c.index],
                      photo ? fds.pictures[c.photo] : -1, slot, r);
    else
      DecodeStill(c, fds.pictures[c.index], slot, r);
    setCpuTimer(0);
    if (!WriteMessage(fds.results, r))
      break;
  }
  _exit(0);
}

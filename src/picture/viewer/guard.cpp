// What a load does: opens the pictures, queues them for decoders, hands
// each decoder its next picture, and takes each answer: checks it, makes the
// texture, or queues the picture again for a reader readied only when
// needed. The decoder processes themselves are in decoder_processes.cpp.
#include "picture/viewer/guard.h"

#include <GL/gl.h>
#include <SOIL/SOIL.h>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoder/readers.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/budget.h"
#include "picture/viewer/decoder_processes.h"
#include "picture/viewer/screen_profile.h"

namespace {

struct Picture {
  int fd = -1;
  int64_t bytes = 0;
  int64_t budgetUs = 0;
  int32_t kind = 0;
  bool settled = false;
};

struct Queue {
  int items[kMaxPictures];
  int head = 0, tail = 0;
  bool empty() const { return head == tail; }
  void push(int i) { items[tail++] = i; }
  int pop() { return items[head++]; }
};

struct Load {
  Picture pictures[kMaxPictures];
  int fds[kMaxPictures]; // the pictures' descriptors, as decoders get them
  int count = 0;
  // Readers that are readied only when needed (1 << reader).
  uint32_t readiedWhenNeeded = 0;
  // Pictures waiting for a decoder: those a reader every decoder has may
  // read, then those only a reader readied when needed reads (and those
  // the others could not read).
  Queue forAnyDecoder, forReadiedDecoder;
  ScreenProfile screen;
  DecoderProcess decoders[kMaxPictures];
  int decoderCount = 0;
  void *shared = MAP_FAILED;
  size_t sharedBytes = 0;
  struct sigaction previousSigpipe = {};
};

// What every decoder of the load is started with.
DecoderSetup setupOf(const Load &load) {
  DecoderSetup setup = {};
  setup.fds = {-1, -1, load.fds, load.count};
  setup.screenProfile = load.screen.bytes;
  setup.screenProfileSize = load.screen.size;
  return setup;
}

int usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0)
    return 1;
  return CPU_COUNT(&set) > 0 ? CPU_COUNT(&set) : 1;
}

// Opens each picture once, here: only regular files are decoded (a FIFO
// would block), and the budget comes from the file's size and header.
void openPictures(const char *const files[], Load &load) {
  for (int i = 0; i < load.count; i++) {
    Picture &p = load.pictures[i];
    p.fd = open(files[i], O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    if (p.fd >= 0 && fstat(p.fd, &st) == 0 && S_ISREG(st.st_mode) &&
        st.st_size > 0) {
      p.bytes = st.st_size;
      p.kind = PictureKindOf(ByteSource{p.fd, nullptr, uint64_t(p.bytes)});
      p.budgetUs = PictureBudgetUs(p.fd, p.bytes, p.kind);
      if (p.budgetUs > 0) {
        bool any = kPictureKinds[p.kind].readers & ~load.readiedWhenNeeded;
        (any ? load.forAnyDecoder : load.forReadiedDecoder).push(i);
        load.fds[i] = p.fd;
        continue;
      }
    }
    if (p.fd >= 0)
      close(p.fd);
    p.fd = load.fds[i] = -1;
    p.settled = true;
  }
}

// How many decoders the pictures' expected decoding time pays for, from
// their budgets (which are that time times a safety factor, plus a base).
int decodersWorthStarting(const Load &load) {
  int64_t expected = 0;
  for (int i = 0; i < load.count; i++)
    if (load.pictures[i].fd >= 0)
      expected += (load.pictures[i].budgetUs - kBaseBudgetUs) / kBudgetSafety;
  return int(1 + expected / kWorkPerDecoderUs);
}

// Kinds of the pictures not settled yet that a reader readied only when
// needed reads.
unsigned kindsStillWanted(const Load &load) {
  unsigned kinds = 0;
  for (int i = 0; i < load.count; i++) {
    const Picture &p = load.pictures[i];
    if (!p.settled && p.fd >= 0 &&
        (kPictureKinds[p.kind].readers & load.readiedWhenNeeded))
      kinds |= 1u << p.kind;
  }
  return kinds;
}

// Readies the load: SIGPIPE ignored (a decoder that dies makes writing to it
// fail instead of ending the viewer), and as many decoders as cores, unless
// the pictures are small, each with two slots of shared memory. The readers
// readied when needed are readied from the start for the pictures that only
// they read.
void beginLoad(Load &load) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &load.previousSigpipe);

  int queued = load.forAnyDecoder.tail + load.forReadiedDecoder.tail;
  int n = std::min({usableCores(), queued, decodersWorthStarting(load)});
  load.sharedBytes = size_t(n) * 2 * kMaxPictureBytes;
  if (n > 0)
    load.shared = mmap(nullptr, load.sharedBytes, PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (load.shared == MAP_FAILED)
    return;
  unsigned onlyThem = 0;
  const Queue &q = load.forReadiedDecoder;
  for (int i = q.head; i < q.tail; i++)
    onlyThem |= 1u << load.pictures[q.items[i]].kind;
  for (int i = 0; i < n; i++) {
    DecoderProcess &d = load.decoders[i];
    d.slots = static_cast<unsigned char *>(load.shared) +
              size_t(i) * 2 * kMaxPictureBytes;
    d.readyKinds = onlyThem;
  }
  load.decoderCount = n;
}

// The next picture waiting and the readers to ask for it; false when none
// is waiting.
bool nextPicture(Load &load, int &picture, uint32_t &readers) {
  bool any = !load.forAnyDecoder.empty();
  if (!any && load.forReadiedDecoder.empty())
    return false;
  picture = any ? load.forAnyDecoder.pop() : load.forReadiedDecoder.pop();
  uint32_t its = kPictureKinds[load.pictures[picture].kind].readers;
  readers = its & (any ? ~load.readiedWhenNeeded : load.readiedWhenNeeded);
  return true;
}

// Hands the decoder its next picture, restarting it with its readers
// readied where that picture needs them. False when there is nothing left
// for it or it can't be used.
bool feed(DecoderProcess &d, Load &load) {
  int picture;
  uint32_t readers;
  if (!nextPicture(load, picture, readers))
    return false;
  Picture &p = load.pictures[picture];
  unsigned kind = 1u << p.kind;
  if ((readers & load.readiedWhenNeeded) && !(d.readyKinds & kind)) {
    StopDecoder(d, false);
    unsigned kinds = kindsStillWanted(load) | kind;
    if (!StartDecoder(d, setupOf(load), kinds)) {
      p.settled = true;
      return false;
    }
  }
  if (d.readyKinds & kind)
    readers |= kPictureKinds[p.kind].readers & load.readiedWhenNeeded;
  DecodeCommand c = {picture, 0, p.kind, readers, p.bytes, p.budgetUs};
  if (SendPicture(d, c, kWallFactor * p.budgetUs + kWallSlackUs))
    return true;
  p.settled = true;
  return false;
}

// Every decoder without work gets some while there is some, and one that
// died is started again.
void feedIdleDecoders(Load &load) {
  for (int i = 0; i < load.decoderCount; i++) {
    DecoderProcess &d = load.decoders[i];
    bool waiting =
        !load.forAnyDecoder.empty() || !load.forReadiedDecoder.empty();
    if (d.picture < 0 && waiting &&
        (d.pid >= 0 || StartDecoder(d, setupOf(load), d.readyKinds)))
      feed(d, load);
  }
}

// Whether a decoder's answer can be believed: about the picture it was
// given, and, where it says a picture was read, read by one of the readers
// asked and fitting in a slot. The one place an answer is checked, before a
// byte of its slot is read.
bool acceptResult(const DecoderProcess &d, const DecodeResult &r) {
  if (r.index != d.picture)
    return false;
  if (r.reader == kNoReader)
    return true;
  return r.reader >= 0 && r.reader < kReaderCount &&
         (d.readers & (1u << r.reader)) &&
         FitsInSlot(r.width, r.height, r.channels);
}

// The slot's rows are packed tightly, as SOIL's copy of them is; GL reads
// rows as starting on 4-byte boundaries unless told otherwise, which would
// shear every picture whose rows are not a multiple of 4 bytes and read past
// the end of the copy. The alignment is told for the upload and put back.
unsigned makeTexture(const DecoderProcess &d, int slot, const DecodeResult &r) {
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  unsigned name = SOIL_create_OGL_texture(
      d.slots + size_t(slot) * kMaxPictureBytes, r.width, r.height, r.channels,
      SOIL_CREATE_NEW_ID, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  return name;
}

// Takes a decoder's answer, or its silence past its deadline: makes the
// texture, queues the picture for a readied decoder where the readers
// asked could not read it, or gives the picture up.
void settle(Load &load, DecoderProcess &d, bool answered, unsigned textures[],
            int readBy[]) {
  Picture &p = load.pictures[d.picture];
  DecodeResult r = {};
  if (!answered || !ReadAnswer(d, r) || !acceptResult(d, r)) {
    // Crashed, killed by its budget or the sandbox, stuck or lying: that
    // picture stays 0, and a new decoder goes on with the rest.
    p.settled = true;
    StopDecoder(d, true);
    return;
  }
  bool decoded = r.reader != kNoReader;
  uint32_t untried =
      kPictureKinds[p.kind].readers & load.readiedWhenNeeded & ~d.readers;
  if (!decoded && untried != 0)
    load.forReadiedDecoder.push(d.picture);
  else
    p.settled = true;
  // Give it the next picture before making this texture, so decoding goes
  // on meanwhile.
  int done = d.picture, slot = d.slot;
  d.picture = -1;
  feed(d, load);
  if (decoded) {
    textures[done] = makeTexture(d, slot, r);
    if (readBy != nullptr)
      readBy[done] = r.reader;
  }
}

void endLoad(Load &load) {
  for (int i = 0; i < load.decoderCount; i++)
    StopDecoder(load.decoders[i], load.decoders[i].picture >= 0);
  if (load.shared != MAP_FAILED)
    munmap(load.shared, load.sharedBytes);
  sigaction(SIGPIPE, &load.previousSigpipe, nullptr);
  for (int i = 0; i < load.count; i++)
    if (load.pictures[i].fd >= 0)
      close(load.pictures[i].fd);
  ReleaseScreenProfile(load.screen);
}

} // namespace

void LoadGuardedTextures(const char *const files[], unsigned int textures[],
                         int count, int readBy[]) {
  for (int i = 0; i < count; i++) {
    textures[i] = 0;
    if (readBy != nullptr)
      readBy[i] = kNoReader;
  }
  if (count > kMaxPictures)
    return;
  Load load;
  load.count = count;
  load.readiedWhenNeeded = ReadiedWhenNeeded();
  load.screen = ReadScreenProfile();
  openPictures(files, load);
  beginLoad(load);
  for (;;) {
    feedIdleDecoders(load);
    int busy[kMaxPictures];
    bool answered[kMaxPictures];
    int n = WaitForAnswers(load.decoders, load.decoderCount, busy, answered);
    if (n <= 0)
      break;
    for (int k = 0; k < n; k++) {
      DecoderProcess &d = load.decoders[busy[k]];
      if (answered[k] || PastDeadline(d))
        settle(load, d, answered[k], textures, readBy);
    }
  }
  endLoad(load);
}

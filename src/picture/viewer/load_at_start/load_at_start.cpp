// What a load does: opens the pictures, queues them for decoders, hands
// each decoder its next picture, and takes each answer: checks it, has the
// textures made (textures.cpp), or queues the picture again for a reader
// readied only when needed. The decoder processes themselves are in
// decoder_processes.cpp.
#include "picture/viewer/load_at_start/load_at_start.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/animations/animations.h"
#include "picture/viewer/decoders/budget.h"
#include "picture/viewer/decoders/decoder_processes.h"
#include "picture/viewer/decoders/decoding.h"
#include "picture/viewer/decoders/screen.h"
#include "picture/viewer/textures/textures.h"

namespace {

struct Picture {
  OpenedPicture file;
  // A Live Photo's motion, the MOV beside it (OpenMotionBeside); fd -1 for
  // none.
  OpenedPicture motion;
  bool settled = false;
  bool moving = false; // an animation: played once the load is done
  // The earlier picture of the same file, whose decoding makes this one's
  // texture as well; -1 for none.
  int sameAs = -1;
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
  ShownSize size; // how large the pictures come back (protocol.h)
  // Readers that are readied only when needed (1 << reader).
  uint32_t readiedWhenNeeded = 0;
  // Pictures waiting for a decoder: those a reader every decoder has may
  // read, then those only a reader readied when needed reads (and those
  // the others could not read).
  Queue forAnyDecoder, forReadiedDecoder;
  ScreenFacts screen;
  DecoderPool pool;
};

// What every decoder of the load is started with.
DecoderJob jobOf(const Load &load) {
  return {load.fds, load.count, load.screen.profile, load.screen.profileSize,
          false};
}

// The earlier picture open on the same file (as the launcher's links to
// one picture on several faces are), or -1.
int earlierOfTheSameFile(const Load &load, int i) {
  const OpenedPicture &p = load.pictures[i].file;
  for (int j = 0; j < i; j++) {
    const OpenedPicture &q = load.pictures[j].file;
    if (q.fd >= 0 && q.device == p.device && q.inode == p.inode)
      return j;
  }
  return -1;
}

// Opens each picture once, here: only regular files are decoded (a FIFO
// would block), each file once however many faces show it, and the budget
// comes from the file's size and header.
void openPictures(const char *const files[], Load &load) {
  for (int i = 0; i < load.count; i++) {
    Picture &p = load.pictures[i];
    p.file = OpenPicture(files[i], load.size.maxSide);
    load.fds[i] = -1;
    p.settled = true;
    if (p.file.fd < 0)
      continue;
    p.sameAs = earlierOfTheSameFile(load, i);
    if (p.sameAs < 0 && p.file.budgetUs > 0) {
      uint32_t readers = kPictureKinds[p.file.kind].readers;
      bool any = readers & ~load.readiedWhenNeeded;
      (any ? load.forAnyDecoder : load.forReadiedDecoder).push(i);
      load.fds[i] = p.file.fd;
      p.settled = false;
      p.motion = OpenMotionBeside(files[i], p.file);
    } else {
      ClosePicture(p.file);
    }
  }
}

// Kinds of the pictures not settled yet that a reader readied only when
// needed reads.
unsigned kindsStillWanted(const Load &load) {
  unsigned kinds = 0;
  for (int i = 0; i < load.count; i++) {
    const Picture &p = load.pictures[i];
    if (!p.settled && p.file.fd >= 0 &&
        (kPictureKinds[p.file.kind].readers & load.readiedWhenNeeded))
      kinds |= 1u << p.file.kind;
  }
  return kinds;
}

// Readies the decoders for the pictures queued, from their expected
// decoding time (their budgets are that time times a safety factor, plus a
// base). The readers readied when needed are readied from the start for the
// pictures that only they read.
void beginLoad(Load &load) {
  int64_t expectedUs = 0;
  for (int i = 0; i < load.count; i++)
    if (load.pictures[i].file.fd >= 0)
      expectedUs +=
          (load.pictures[i].file.budgetUs - kBaseBudgetUs) / kBudgetSafety;
  unsigned onlyThem = 0;
  const Queue &q = load.forReadiedDecoder;
  for (int i = q.head; i < q.tail; i++)
    onlyThem |= 1u << load.pictures[q.items[i]].file.kind;
  int queued = load.forAnyDecoder.tail + load.forReadiedDecoder.tail;
  MakePool(load.pool, queued, expectedUs, onlyThem);
}

// The next picture waiting and the readers to ask for it; false when none
// is waiting.
bool nextPicture(Load &load, int &picture, uint32_t &readers) {
  bool any = !load.forAnyDecoder.empty();
  if (!any && load.forReadiedDecoder.empty())
    return false;
  picture = any ? load.forAnyDecoder.pop() : load.forReadiedDecoder.pop();
  uint32_t its = kPictureKinds[load.pictures[picture].file.kind].readers;
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
  unsigned kind = 1u << p.file.kind;
  if ((readers & load.readiedWhenNeeded) && !(d.readyKinds & kind)) {
    StopDecoder(d, false);
    unsigned kinds = kindsStillWanted(load) | kind;
    if (!StartDecoder(d, jobOf(load), kinds)) {
      p.settled = true;
      return false;
    }
  }
  if (d.readyKinds & kind)
    readers |= kPictureKinds[p.file.kind].readers & load.readiedWhenNeeded;
  if (SendStill(d, picture, p.file, readers, load.size))
    return true;
  p.settled = true;
  return false;
}

// Every decoder without work gets some while there is some, and one that
// died is started again.
void feedIdleDecoders(Load &load) {
  for (int i = 0; i < load.pool.count; i++) {
    DecoderProcess &d = load.pool.decoders[i];
    bool waiting =
        !load.forAnyDecoder.empty() || !load.forReadiedDecoder.empty();
    if (d.picture < 0 && waiting &&
        (d.pid >= 0 || StartDecoder(d, jobOf(load), d.readyKinds)))
      feed(d, load);
  }
}

// The textures of a decoded picture: its own, and those of the pictures of
// the same file.
void makeTextures(Load &load, int picture, const unsigned char *pixels,
                  const DecodeResult &r, unsigned textures[], int readBy[]) {
  int faces[kMaxPictures], count = 0;
  for (int i = picture; i < load.count; i++)
    if (i == picture || load.pictures[i].sameAs == picture)
      faces[count++] = i;
  unsigned names[kMaxPictures];
  MakeTextures(pixels, r.width, r.height, r.channels, names, count,
               r.moving != 0);
  for (int k = 0; k < count; k++) {
    textures[faces[k]] = names[k];
    if (readBy != nullptr)
      readBy[faces[k]] = r.reader;
  }
  load.pictures[picture].moving = r.moving != 0;
}

// Plays the animations among the pictures, and the Live Photos' motions,
// on the textures made of them; their descriptors go with them.
void playMoving(Load &load, const unsigned textures[]) {
  for (int i = 0; i < load.count; i++) {
    Picture &p = load.pictures[i];
    bool live = !p.moving && p.motion.fd >= 0 && textures[i] != 0;
    if ((!p.moving && !live) || p.file.fd < 0)
      continue;
    unsigned names[kMaxPictures];
    int count = 0;
    for (int j = i; j < load.count; j++)
      if ((j == i || load.pictures[j].sameAs == i) && textures[j] != 0)
        names[count++] = textures[j];
    const OpenedPicture &played = live ? p.motion : p.file;
    AnimationSource source = {played.fd,
                              played.bytes,
                              played.kind,
                              played.budgetUs,
                              load.screen.profile,
                              load.screen.profileSize,
                              live ? p.file : OpenedPicture{}};
    PlayAnimation(source, names, count);
    if (live)
      p.motion = {};
    p.file = {};
  }
}

// Takes a decoder's answer, or its silence past its deadline: makes the
// texture, queues the picture for a readied decoder where the readers
// asked could not read it, or gives the picture up. False while it is
// still at work.
bool settle(Load &load, DecoderProcess &d, unsigned textures[], int readBy[]) {
  Picture &p = load.pictures[d.picture];
  DecodeResult r = {};
  Answer answer = TakeAnswer(d, load.size.maxSide, r);
  if (answer == Answer::kNotYet)
    return false;
  if (answer == Answer::kFailed) {
    // Crashed, killed by its budget or the sandbox, stuck or lying: that
    // picture stays 0, and a new decoder goes on with the rest.
    p.settled = true;
    StopDecoder(d, true);
    return true;
  }
  bool decoded = r.reader != kNoReader;
  uint32_t untried =
      kPictureKinds[p.file.kind].readers & load.readiedWhenNeeded & ~d.readers;
  if (!decoded && untried != 0)
    load.forReadiedDecoder.push(d.picture);
  else
    p.settled = true;
  // Give it the next picture before making this texture, so decoding goes
  // on meanwhile.
  int done = d.picture, slot = d.slot;
  d.picture = -1;
  feed(d, load);
  if (decoded)
    makeTextures(load, done, d.slots + size_t(slot) * kMaxPictureBytes, r,
                 textures, readBy);
  return true;
}

void endLoad(Load &load, const unsigned textures[]) {
  ReleasePool(load.pool);
  playMoving(load, textures);
  for (int i = 0; i < load.count; i++) {
    ClosePicture(load.pictures[i].file);
    ClosePicture(load.pictures[i].motion);
  }
  ReleaseScreen(load.screen);
}

} // namespace

void LoadTexturesAtStart(const char *const files[], unsigned int textures[],
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
  load.readiedWhenNeeded = kReadiedWhenNeeded;
  load.screen = ReadScreen();
  load.size = ShownSizeOn(load.screen.height);
  openPictures(files, load);
  beginLoad(load);
  for (;;) {
    feedIdleDecoders(load);
    int busy[kMaxPictures];
    int n = WaitForAnswers(load.pool, busy);
    if (n <= 0)
      break;
    for (int k = 0; k < n; k++)
      settle(load, load.pool.decoders[busy[k]], textures, readBy);
  }
  endLoad(load, textures);
}

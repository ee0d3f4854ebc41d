#include "picture/viewer/guard.h"

#include <GL/gl.h>
#include <SOIL/SOIL.h>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "picture/decoder/decoder.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/budget.h"

namespace {

constexpr int kMaxPictures = kMaxDecoderPictures;

// The readers every decoder has; GdkPixbuf only where it was readied.
constexpr uint32_t kAlwaysReady = ~kReadWithPixbuf;

struct Picture {
  int fd = -1;
  int64_t bytes = 0;
  int64_t budgetUs = 0;
  int32_t kind = 0;
  bool settled = false;
};

// One decoder process and what it is working on.
struct Decoder {
  pid_t pid = -1;
  int commands = -1, results = -1; // the viewer's ends of its pipes
  unsigned char *slots = nullptr;  // its two slots in the shared area
  unsigned pixbufKinds = 0;        // kinds its GdkPixbuf is ready for
  int picture = -1;                // the picture it decodes, or -1
  uint32_t readers = 0;            // the readers it was asked to try
  int slot = 0;                    // the slot it decodes into
  int64_t deadlineUs = 0;
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
  int count = 0;
  // Pictures waiting for a decoder: first those for the readers every
  // decoder has, then those for GdkPixbuf (what only it reads, and what the
  // others could not).
  Queue first, pixbuf;
  Decoder decoders[kMaxPictures];
  int decoderCount = 0;
  void *shared = MAP_FAILED;
  size_t sharedBytes = 0;
  struct sigaction previousSigpipe = {};
};

int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
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
      p.budgetUs = PictureBudgetUs(p.fd, p.bytes, p.kind);
      if (p.budgetUs > 0) {
        bool first = kPictureKinds[p.kind].readers & kAlwaysReady;
        (first ? load.first : load.pixbuf).push(i);
        continue;
      }
    }
    if (p.fd >= 0)
      close(p.fd);
    p.fd = -1;
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

// Readies the load: SIGPIPE ignored (a decoder that dies makes writing to it
// fail instead of ending the viewer), and as many decoders as cores, unless
// the pictures are small, each with two slots of shared memory. GdkPixbuf is
// readied from the start only for the pictures that only it reads.
void beginLoad(Load &load) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &load.previousSigpipe);

  int queued = load.first.tail + load.pixbuf.tail;
  int n = std::min({usableCores(), queued, decodersWorthStarting(load)});
  load.sharedBytes = size_t(n) * 2 * kMaxPictureBytes;
  if (n > 0)
    load.shared = mmap(nullptr, load.sharedBytes, PROT_READ | PROT_WRITE,
                       MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (load.shared == MAP_FAILED)
    return;
  unsigned pixbufOnly = 0;
  for (int i = load.pixbuf.head; i < load.pixbuf.tail; i++)
    pixbufOnly |= 1u << load.pictures[load.pixbuf.items[i]].kind;
  for (int i = 0; i < n; i++) {
    Decoder &d = load.decoders[i];
    d.slots = static_cast<unsigned char *>(load.shared) +
              size_t(i) * 2 * kMaxPictureBytes;
    d.pixbufKinds = pixbufOnly;
  }
  load.decoderCount = n;
}

// In the child, right after the fork: it dies with the viewer, however the
// viewer ends, and becomes a decoder.
[[noreturn]] void becomeDecoder(pid_t viewer, int commands, int results,
                                const Load &load, unsigned char *slots,
                                unsigned pixbufKinds) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != viewer)
    _exit(1);
  int fds[kMaxPictures];
  for (int i = 0; i < load.count; i++)
    fds[i] = load.pictures[i].fd;
  DecoderMain({commands, results, fds, load.count, slots, pixbufKinds});
}

bool startDecoder(Decoder &d, const Load &load, unsigned pixbufKinds) {
  int commands[2], results[2];
  if (pipe2(commands, O_CLOEXEC) != 0)
    return false;
  if (pipe2(results, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    return false;
  }
  pid_t viewer = getpid();
  pid_t pid = fork();
  if (pid == 0)
    becomeDecoder(viewer, commands[0], results[1], load, d.slots, pixbufKinds);
  close(commands[0]);
  close(results[1]);
  if (pid < 0) {
    close(commands[1]);
    close(results[0]);
    return false;
  }
  d.pid = pid;
  d.commands = commands[1];
  d.results = results[0];
  d.pixbufKinds = pixbufKinds;
  return true;
}

void stopDecoder(Decoder &d, bool killIt) {
  if (d.pid < 0)
    return;
  close(d.commands); // a decoder waiting for work ends on this
  close(d.results);
  if (killIt)
    kill(d.pid, SIGKILL);
  while (waitpid(d.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  d.pid = -1;
  d.picture = -1;
}

// Kinds GdkPixbuf may still be wanted for: those of the pictures not
// settled yet that it reads.
unsigned pixbufKindsWanted(const Load &load) {
  unsigned kinds = 0;
  for (int i = 0; i < load.count; i++) {
    const Picture &p = load.pictures[i];
    if (!p.settled && p.fd >= 0 &&
        (kPictureKinds[p.kind].readers & kReadWithPixbuf))
      kinds |= 1u << p.kind;
  }
  return kinds;
}

// The next picture waiting and the readers to ask for it; false when none
// is waiting.
bool nextPicture(Load &load, int &picture, uint32_t &readers) {
  if (!load.first.empty()) {
    picture = load.first.pop();
    readers = kPictureKinds[load.pictures[picture].kind].readers & kAlwaysReady;
  } else if (!load.pixbuf.empty()) {
    picture = load.pixbuf.pop();
    readers = kReadWithPixbuf;
  } else {
    return false;
  }
  return true;
}

// Hands the decoder its next picture, into the slot the viewer is not
// reading from, restarting it with GdkPixbuf readied where that picture
// needs it. False when there is nothing left for it or it can't be used.
bool feed(Decoder &d, Load &load) {
  int picture;
  uint32_t readers;
  if (!nextPicture(load, picture, readers))
    return false;
  Picture &p = load.pictures[picture];
  unsigned kind = 1u << p.kind;
  if ((readers & kReadWithPixbuf) && !(d.pixbufKinds & kind)) {
    stopDecoder(d, false);
    if (!startDecoder(d, load, pixbufKindsWanted(load) | kind)) {
      p.settled = true;
      return false;
    }
  }
  if (d.pixbufKinds & kind)
    readers |= kReadWithPixbuf;
  d.slot ^= 1;
  DecodeCommand c = {picture, d.slot, p.kind, readers, p.bytes, p.budgetUs};
  d.picture = picture;
  d.readers = readers;
  d.deadlineUs = nowUs() + kWallFactor * p.budgetUs + kWallSlackUs;
  if (WriteMessage(d.commands, c))
    return true;
  p.settled = true;
  stopDecoder(d, true);
  return false;
}

// Every decoder without work gets some while there is some, and one that
// died is started again.
void feedIdleDecoders(Load &load) {
  for (int i = 0; i < load.decoderCount; i++) {
    Decoder &d = load.decoders[i];
    bool waiting = !load.first.empty() || !load.pixbuf.empty();
    if (d.picture < 0 && waiting &&
        (d.pid >= 0 || startDecoder(d, load, d.pixbufKinds)))
      feed(d, load);
  }
}

// Waits until a busy decoder answers or the earliest deadline passes, and
// lists the busy decoders in `busy`, their result pipes in `fds`. Returns
// how many are busy: 0 when the load is done, -1 when waiting failed.
int waitForAnswers(const Load &load, pollfd fds[], int busy[]) {
  int n = 0;
  int64_t now = nowUs(), wait = INT64_MAX;
  for (int i = 0; i < load.decoderCount; i++) {
    const Decoder &d = load.decoders[i];
    if (d.pid < 0 || d.picture < 0)
      continue;
    fds[n] = {d.results, POLLIN, 0};
    busy[n++] = i;
    wait = std::min(wait, d.deadlineUs - now);
  }
  if (n == 0)
    return 0;
  int ready = poll(fds, nfds_t(n), int(std::max<int64_t>(wait, 0) / 1000));
  return ready < 0 && errno != EINTR ? -1 : n;
}

// Whether a decoder's answer can be believed: about the picture it was
// given, and, where it says a picture was read, read by one of the readers
// asked and fitting in a slot. The one place an answer is checked, before a
// byte of its slot is read.
bool acceptResult(const Decoder &d, const DecodeResult &r) {
  if (r.index != d.picture)
    return false;
  if (r.reader == kNoReader)
    return true;
  return r.reader >= 0 && r.reader < kReaders &&
         (d.readers & (1u << r.reader)) &&
         FitsInSlot(r.width, r.height, r.channels);
}

// The slot's rows are packed tightly, as SOIL's copy of them is; GL reads
// rows as starting on 4-byte boundaries unless told otherwise, which would
// shear every picture whose rows are not a multiple of 4 bytes and read past
// the end of the copy. The alignment is told for the upload and put back.
unsigned makeTexture(const Decoder &d, int slot, const DecodeResult &r) {
  GLint alignment = 4;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  unsigned name = SOIL_create_OGL_texture(
      d.slots + size_t(slot) * kMaxPictureBytes, r.width, r.height, r.channels,
      SOIL_CREATE_NEW_ID, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
  return name;
}

// Takes a busy decoder's answer, or its silence past its deadline: makes
// the texture, queues the picture for GdkPixbuf where the other readers
// could not read it, or gives the picture up.
void settle(Load &load, Decoder &d, bool answered, unsigned textures[],
            int readBy[]) {
  Picture &p = load.pictures[d.picture];
  // The answer is one small write, so it arrives whole or not at all.
  DecodeResult r = {};
  if (!answered || read(d.results, &r, sizeof r) != sizeof r ||
      !acceptResult(d, r)) {
    // Crashed, killed by its budget or the sandbox, stuck or lying: that
    // picture stays 0, and a new decoder goes on with the rest.
    p.settled = true;
    stopDecoder(d, true);
    return;
  }
  bool decoded = r.reader != kNoReader;
  if (!decoded && !(d.readers & kReadWithPixbuf) &&
      (kPictureKinds[p.kind].readers & kReadWithPixbuf))
    load.pixbuf.push(d.picture);
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
    stopDecoder(load.decoders[i], load.decoders[i].picture >= 0);
  if (load.shared != MAP_FAILED)
    munmap(load.shared, load.sharedBytes);
  sigaction(SIGPIPE, &load.previousSigpipe, nullptr);
  for (int i = 0; i < load.count; i++)
    if (load.pictures[i].fd >= 0)
      close(load.pictures[i].fd);
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
  openPictures(files, load);
  beginLoad(load);
  for (;;) {
    feedIdleDecoders(load);
    pollfd fds[kMaxPictures];
    int busy[kMaxPictures];
    int n = waitForAnswers(load, fds, busy);
    if (n <= 0)
      break;
    int64_t now = nowUs();
    for (int k = 0; k < n; k++) {
      Decoder &d = load.decoders[busy[k]];
      bool answered = fds[k].revents != 0;
      if (answered || now >= d.deadlineUs)
        settle(load, d, answered, textures, readBy);
    }
  }
  endLoad(load);
}

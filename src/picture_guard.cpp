#include "picture_guard.h"

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

#include "picture_budget.h"
#include "picture_decoder.h"
#include "picture_limits.h"
#include "picture_protocol.h"

namespace {

constexpr int kMaxPictures = kMaxDecoderPictures;

// Kinds that SOIL never reads, and kinds the second decoder reads.
constexpr unsigned kNotSoil =
    1u << kTiff | 1u << kWebp | 1u << kHeif | 1u << kAvif | 1u << kGif;
constexpr unsigned kSecondReads =
    kNotSoil | 1u << kJpeg | 1u << kPng | 1u << kBmp;

struct Picture {
  int fd = -1;
  int64_t bytes = 0;
  int64_t budgetUs = 0;
  int32_t kind = kOtherKind;
  bool settled = false;
};

// One decoder process and what it is working on.
struct Decoder {
  pid_t pid = -1;
  int commands = -1, results = -1; // the viewer's ends of its pipes
  unsigned char *slots = nullptr;  // its two slots in the shared area
  unsigned secondKinds = 0;        // what its second decoder is ready for
  int picture = -1;                // the picture it decodes, or -1
  int32_t decoders = 0;            // and with which decoders
  int slot = 0;
  int64_t deadlineUs = 0;
};

// Pictures waiting for a decoder: first those for SOIL, then those that only
// the second decoder can read.
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
  Queue soil, second;
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

void stopDecoder(Decoder &d, bool kill_it) {
  if (d.pid < 0)
    return;
  close(d.commands); // a decoder waiting for work ends on this
  close(d.results);
  if (kill_it)
    kill(d.pid, SIGKILL);
  while (waitpid(d.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  d.pid = -1;
  d.picture = -1;
}

bool startDecoder(Decoder &d, const Load &load, unsigned secondKinds) {
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
  if (pid == 0) {
    // Dies with the viewer, however the viewer ends.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != viewer)
      _exit(1);
    int fds[kMaxPictures];
    for (int i = 0; i < load.count; i++)
      fds[i] = load.pictures[i].fd;
    DecoderMain(
        {commands[0], results[1], fds, load.count, d.slots, secondKinds});
  }
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
  d.secondKinds = secondKinds;
  return true;
}

// Kinds the second decoder may still be wanted for: those of the pictures
// not settled yet that it reads.
unsigned secondKindsWanted(const Load &load) {
  unsigned kinds = 0;
  for (int i = 0; i < load.count; i++)
    if (!load.pictures[i].settled && load.pictures[i].fd >= 0)
      kinds |= 1u << load.pictures[i].kind;
  return kinds & kSecondReads;
}

// Hands the decoder its next picture, into the slot the viewer is not
// reading from, restarting it with the second decoder where that picture
// needs it. False when there is nothing left for it or it can't be used.
bool feed(Decoder &d, Load &load) {
  int picture;
  int32_t decoders;
  if (!load.soil.empty()) {
    picture = load.soil.pop();
    decoders = kUseSoil;
  } else if (!load.second.empty()) {
    picture = load.second.pop();
    decoders = kUseSecond;
  } else {
    return false;
  }
  Picture &p = load.pictures[picture];
  unsigned kind = 1u << p.kind;
  if ((decoders & kUseSecond) && !(d.secondKinds & kind)) {
    stopDecoder(d, false);
    if (!startDecoder(d, load, secondKindsWanted(load) | kind)) {
      p.settled = true;
      return false;
    }
  }
  if (d.secondKinds & kind)
    decoders |= kUseSecond;
  d.slot ^= 1;
  DecodeCommand c = {picture, d.slot, p.kind, decoders, p.bytes, p.budgetUs};
  d.picture = picture;
  d.decoders = decoders;
  d.deadlineUs = nowUs() + kWallFactor * p.budgetUs + kWallSlackUs;
  if (TransferAll(d.commands, &c, sizeof c, false))
    return true;
  p.settled = true;
  stopDecoder(d, true);
  return false;
}

// Starting a decoder costs a few milliseconds (a fork of the viewer): only
// worth it for about this much expected decoding.
constexpr int64_t kWorkPerDecoderUs = 50 * 1000;

// How many decoders the pictures' expected decoding time pays for, from
// their budgets (which are that time times a safety factor, plus a base).
int decodersWorthStarting(const Load &load) {
  int64_t expected = 0;
  for (int i = 0; i < load.count; i++)
    if (load.pictures[i].fd >= 0)
      expected += (load.pictures[i].budgetUs - kBaseBudgetUs) / kBudgetSafety;
  return int(1 + expected / kWorkPerDecoderUs);
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
        if ((1u << p.kind) & kNotSoil)
          load.second.push(i);
        else
          load.soil.push(i);
        continue;
      }
    }
    if (p.fd >= 0)
      close(p.fd);
    p.fd = -1;
    p.settled = true;
  }
}

} // namespace

void LoadGuardedTextures(const char *const files[], unsigned int textures[],
                         int count) {
  for (int i = 0; i < count; i++)
    textures[i] = 0;
  if (count > kMaxPictures)
    return;
  Load load;
  load.count = count;
  openPictures(files, load);

  // A decoder that dies makes writing to it fail instead of ending the
  // viewer.
  struct sigaction ignore = {}, previous;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);

  // As many decoders as cores, unless the pictures are small, each with two
  // slots of shared memory. The second decoder is readied from the start
  // only for pictures SOIL never reads.
  int queued = load.soil.tail + load.second.tail;
  int workers = std::min({usableCores(), queued, decodersWorthStarting(load)});
  Decoder decoders[kMaxPictures];
  size_t area = size_t(workers) * 2 * kMaxPictureBytes;
  void *shared = workers == 0
                     ? MAP_FAILED
                     : mmap(nullptr, area, PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (shared == MAP_FAILED)
    workers = 0;
  unsigned firstKinds = 0;
  for (int i = load.second.head; i < load.second.tail; i++)
    firstKinds |= 1u << load.pictures[load.second.items[i]].kind;
  for (int w = 0; w < workers; w++) {
    decoders[w].slots =
        static_cast<unsigned char *>(shared) + size_t(w) * 2 * kMaxPictureBytes;
    decoders[w].secondKinds = firstKinds;
  }

  for (;;) {
    // Every decoder without work gets some while there is some, and one
    // that died is started again.
    for (int w = 0; w < workers; w++) {
      Decoder &d = decoders[w];
      bool work = !load.soil.empty() || !load.second.empty();
      if (d.picture < 0 && work &&
          (d.pid >= 0 || startDecoder(d, load, d.secondKinds)))
        feed(d, load);
    }

    pollfd fds[kMaxPictures];
    int busy[kMaxPictures], n = 0;
    int64_t now = nowUs(), wait = INT64_MAX;
    for (int w = 0; w < workers; w++) {
      if (decoders[w].pid < 0 || decoders[w].picture < 0)
        continue;
      fds[n] = {decoders[w].results, POLLIN, 0};
      busy[n++] = w;
      wait = std::min(wait, decoders[w].deadlineUs - now);
    }
    if (n == 0)
      break;
    int ready = poll(fds, nfds_t(n), int(std::max<int64_t>(wait, 0) / 1000));
    if (ready < 0 && errno != EINTR)
      break;
    now = nowUs();

    for (int k = 0; k < n; k++) {
      Decoder &d = decoders[busy[k]];
      bool answered = fds[k].revents != 0;
      if (!answered && now < d.deadlineUs)
        continue;
      Picture &p = load.pictures[d.picture];
      // The answer is one small write, so it arrives whole or not at all.
      DecodeResult r = {};
      bool ok = answered && read(d.results, &r, sizeof r) == sizeof r &&
                r.index == d.picture;
      bool decoded = ok && r.width > 0;
      if (decoded)
        ok = r.height > 0 && r.channels >= 1 && r.channels <= 4 &&
             uint64_t(r.width) * uint64_t(r.height) * uint64_t(r.channels) <=
                 kMaxPictureBytes;
      if (!ok) {
        // Crashed, killed by its budget or the sandbox, or stuck: that
        // picture stays 0, and a new decoder goes on with the rest.
        p.settled = true;
        stopDecoder(d, true);
        continue;
      }
      // SOIL could not read it: the second decoder may.
      if (!decoded && !(d.decoders & kUseSecond) &&
          ((1u << p.kind) & kSecondReads))
        load.second.push(d.picture);
      else
        p.settled = true;
      // Give it the next picture before making this texture, so decoding
      // goes on meanwhile.
      int done = d.picture, slot = d.slot;
      d.picture = -1;
      feed(d, load);
      if (decoded)
        textures[done] = SOIL_create_OGL_texture(
            d.slots + size_t(slot) * kMaxPictureBytes, r.width, r.height,
            r.channels, SOIL_CREATE_NEW_ID, 0);
    }
  }

  for (int w = 0; w < workers; w++)
    stopDecoder(decoders[w], false);
  if (shared != MAP_FAILED)
    munmap(shared, area);
  sigaction(SIGPIPE, &previous, nullptr);
  for (int i = 0; i < count; i++)
    if (load.pictures[i].fd >= 0)
      close(load.pictures[i].fd);
}

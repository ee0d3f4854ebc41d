#include "picture/viewer/decoder_processes.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "picture/decoding_limits.h"

namespace {

int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// In the child, right after the fork: it dies with the viewer, however the
// viewer ends, and becomes a decoder.
[[noreturn]] void becomeDecoder(pid_t viewer, const DecoderSetup &setup) {
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != viewer ||
      (setup.behind && setpriority(PRIO_PROCESS, 0, 19) != 0))
    _exit(1);
  DecoderMain(setup);
}

// Decoders let go without waiting, still to be reaped.
pid_t letGo[kMaxPictures];
int lettingGo = 0;

int usableCores() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0)
    return 1;
  return CPU_COUNT(&set) > 0 ? CPU_COUNT(&set) : 1;
}

} // namespace

bool StartDecoder(DecoderProcess &d, DecoderSetup load, unsigned readyKinds) {
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
    load.fds.commands = commands[0];
    load.fds.results = results[1];
    load.slots = d.slots;
    load.readyKinds = readyKinds;
    becomeDecoder(viewer, load);
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
  d.readyKinds = readyKinds;
  return true;
}

void StopDecoder(DecoderProcess &d, bool killIt) {
  if (d.pid < 0)
    return;
  close(d.commands);
  close(d.results);
  if (killIt)
    kill(d.pid, SIGKILL);
  while (waitpid(d.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  d.pid = -1;
  d.picture = -1;
}

void LetDecoderGo(DecoderProcess &d, bool killIt) {
  if (d.pid < 0)
    return;
  ReapDecodersLetGo();
  if (lettingGo == kMaxPictures) { // not one has ended yet: wait after all
    StopDecoder(d, killIt);
    return;
  }
  close(d.commands);
  close(d.results);
  if (killIt)
    kill(d.pid, SIGKILL);
  letGo[lettingGo++] = d.pid;
  d.pid = -1;
  d.picture = -1;
}

void ReapDecodersLetGo() {
  for (int i = 0; i < lettingGo;)
    if (waitpid(letGo[i], nullptr, WNOHANG) != 0)
      letGo[i] = letGo[--lettingGo];
    else
      i++;
}

bool SendPicture(DecoderProcess &d, DecodeCommand c, int64_t wallUs) {
  d.slot ^= 1;
  c.slot = d.slot;
  d.picture = c.index;
  d.readers = c.readers;
  d.deadlineUs = nowUs() + wallUs;
  if (WriteMessage(d.commands, c))
    return true;
  StopDecoder(d, true);
  return false;
}

void ReadyPool(DecoderPool &pool, int pictures, int64_t expectedUs,
               unsigned readyKinds) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &pool.previousSigpipe);
  int worth = int(1 + expectedUs / kWorkPerDecoderUs);
  int n = std::min({usableCores(), pictures, worth});
  pool.areaBytes = size_t(n) * 2 * kMaxPictureBytes;
  void *area = n > 0 ? mmap(nullptr, pool.areaBytes, PROT_READ | PROT_WRITE,
                            MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)
                     : MAP_FAILED;
  if (area == MAP_FAILED)
    return;
  pool.area = area;
  for (int i = 0; i < n; i++) {
    pool.decoders[i].slots =
        static_cast<unsigned char *>(area) + size_t(i) * 2 * kMaxPictureBytes;
    pool.decoders[i].readyKinds = readyKinds;
  }
  pool.count = n;
}

void ReleasePool(DecoderPool &pool) {
  for (int i = 0; i < pool.count; i++)
    StopDecoder(pool.decoders[i], pool.decoders[i].picture >= 0);
  if (pool.area != nullptr)
    munmap(pool.area, pool.areaBytes);
  sigaction(SIGPIPE, &pool.previousSigpipe, nullptr);
  pool.count = 0;
  pool.area = nullptr;
}

int WaitForAnswers(const DecoderPool &pool, int busy[], bool answered[]) {
  pollfd fds[kMaxPictures];
  int n = 0;
  int64_t now = nowUs(), wait = INT64_MAX;
  for (int i = 0; i < pool.count; i++) {
    const DecoderProcess &d = pool.decoders[i];
    if (d.pid < 0 || d.picture < 0)
      continue;
    fds[n] = {d.results, POLLIN, 0};
    busy[n++] = i;
    wait = std::min(wait, d.deadlineUs - now);
  }
  if (n == 0)
    return 0;
  int ready = poll(fds, nfds_t(n), int(std::max<int64_t>(wait, 0) / 1000));
  if (ready < 0 && errno != EINTR)
    return -1;
  for (int k = 0; k < n; k++)
    answered[k] = ready > 0 && fds[k].revents != 0;
  return n;
}

bool ReadAnswer(const DecoderProcess &d, DecodeResult &r) {
  return read(d.results, &r, sizeof r) == ssize_t(sizeof r);
}

bool PastDeadline(const DecoderProcess &d) {
  return nowUs() >= d.deadlineUs;
}

bool AcceptAnswer(const DecoderProcess &d, const DecodeResult &r, int maxSide) {
  if (r.index != d.picture)
    return false;
  if (r.reader == kNoReader)
    return true;
  return r.reader >= 0 && r.reader < kReaderCount &&
         (d.readers & (1u << r.reader)) &&
         Fits(r.width, r.height, r.channels, maxSide);
}

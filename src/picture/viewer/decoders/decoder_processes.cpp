#include "picture/viewer/decoders/decoder_processes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "picture/decoding_limits.h"
#include "picture/viewer/decoders/clock.h"

namespace {

// The decoder program: the one a test named, else the one beside the
// viewer (in a build tree), else the one installed with it.
const char *usedProgram = nullptr;

const std::string &decoderProgram() {
  static const std::string program = [] {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    return DecoderProgram(n > 0 ? std::string(self, size_t(n)) : "");
  }();
  return program;
}

// What a decoder's environment keeps of the viewer's: nothing of the
// user's (no display, no home, no preloaded libraries); in a test build,
// what its sanitizers read.
std::vector<std::string> decoderEnvironment() {
  std::vector<std::string> kept;
#ifdef __SANITIZE_ADDRESS__
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char *value = getenv(name))
      kept.push_back(std::string(name) + "=" + value);
#endif
  return kept;
}

std::vector<char *> pointersTo(std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (std::string &s : strings)
    pointers.push_back(&s[0]);
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the program with the descriptors in `keep` open in it at the same
// numbers (the viewer's own are all closed on exec), its signals as new.
pid_t spawn(std::vector<std::string> args, const int keep[], int count) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int i = 0; i < count; i++)
    if (keep[i] >= 0) // onto itself: open across the exec
      posix_spawn_file_actions_adddup2(&actions, keep[i], keep[i]);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> environment = decoderEnvironment();
  std::vector<char *> argv = pointersTo(args), envp = pointersTo(environment);
  const char *program = usedProgram ? usedProgram : decoderProgram().c_str();
  pid_t pid = -1;
  if (posix_spawn(&pid, program, &actions, &attributes, argv.data(),
                  envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
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

bool StartDecoder(DecoderProcess &d, const DecoderJob &job,
                  unsigned readyKinds) {
  if (d.slots == nullptr || job.pictureCount > kMaxPictures ||
      job.screenProfileSize > kMaxProfileBytes)
    return false;
  int commands[2], results[2];
  if (pipe2(commands, O_CLOEXEC) != 0)
    return false;
  if (pipe2(results, O_CLOEXEC) != 0) {
    close(commands[0]);
    close(commands[1]);
    return false;
  }
  if (job.screenProfile != nullptr)
    std::memcpy(d.slots + 2 * kMaxPictureBytes, job.screenProfile,
                job.screenProfileSize);
  DecoderArguments a;
  a.viewer = getpid();
  a.commands = commands[0];
  a.results = results[1];
  a.slots = d.slotsFd;
  a.profileBytes = job.screenProfile ? int64_t(job.screenProfileSize) : 0;
  a.readyKinds = readyKinds;
  a.behind = job.behind;
  a.pictureCount = job.pictureCount;
  int keep[kMaxPictures + 3] = {a.commands, a.results, a.slots};
  for (int i = 0; i < job.pictureCount; i++)
    keep[3 + i] = a.pictures[i] = job.pictures[i];
  pid_t pid = spawn(FormatDecoderArguments(a), keep, 3 + job.pictureCount);
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

void UseDecoderProgram(const char *path) {
  usedProgram = path;
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
  d.deadlineUs = NowUs() + wallUs;
  if (WriteMessage(d.commands, c))
    return true;
  StopDecoder(d, true);
  return false;
}

void MakePool(DecoderPool &pool, int pictures, int64_t expectedUs,
              unsigned readyKinds) {
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &pool.previousSigpipe);
  int worth = int(1 + expectedUs / kWorkPerDecoderUs);
  int n = std::min({usableCores(), pictures, worth});
  for (int i = 0; i < n; i++) {
    DecoderProcess &d = pool.decoders[i];
    if (!MakeSlots(d))
      break;
    d.readyKinds = readyKinds;
    pool.count = i + 1;
  }
}

bool MakeSlots(DecoderProcess &d) {
  d.slotsFd = memfd_create("vorlix slots", MFD_CLOEXEC);
  void *slots = MAP_FAILED;
  if (d.slotsFd >= 0 && ftruncate(d.slotsFd, off_t(kSlotsBytes)) == 0)
    slots = mmap(nullptr, kSlotsBytes, PROT_READ | PROT_WRITE,
                 MAP_SHARED | MAP_NORESERVE, d.slotsFd, 0);
  if (slots == MAP_FAILED) {
    if (d.slotsFd >= 0)
      close(d.slotsFd);
    d.slotsFd = -1;
    return false;
  }
  d.slots = static_cast<unsigned char *>(slots);
  return true;
}

void FreeSlots(DecoderProcess &d) {
  if (d.slots != nullptr)
    munmap(d.slots, kSlotsBytes);
  if (d.slotsFd >= 0)
    close(d.slotsFd);
  d.slots = nullptr;
  d.slotsFd = -1;
}

void ReleasePool(DecoderPool &pool) {
  for (int i = 0; i < pool.count; i++) {
    DecoderProcess &d = pool.decoders[i];
    StopDecoder(d, d.picture >= 0);
    FreeSlots(d);
  }
  sigaction(SIGPIPE, &pool.previousSigpipe, nullptr);
  pool.count = 0;
}

int WaitForAnswers(const DecoderPool &pool, int busy[]) {
  pollfd fds[kMaxPictures];
  int n = 0;
  int64_t now = NowUs(), wait = INT64_MAX;
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
  return ready < 0 && errno != EINTR ? -1 : n;
}

bool ReadAnswer(const DecoderProcess &d, DecodeResult &r) {
  return read(d.results, &r, sizeof r) == ssize_t(sizeof r);
}

bool PastDeadline(const DecoderProcess &d) {
  return NowUs() >= d.deadlineUs;
}

bool AcceptAnswer(const DecoderProcess &d, const DecodeResult &r, int maxSide) {
  if (r.index != d.picture)
    return false;
  if (r.reader == kNoReader)
    return true;
  return r.reader >= 0 && r.reader < kLibraryCount && r.atUs >= 0 &&
         r.play >= 0 && (d.readers & (1u << r.reader)) &&
         Fits(r.width, r.height, r.channels, maxSide);
}

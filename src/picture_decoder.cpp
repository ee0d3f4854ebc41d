#include "picture_decoder.h"

#include <SOIL/SOIL.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "picture_limits.h"
#include "picture_pixbuf.h"
#include "picture_protocol.h"

namespace {

// The address space is capped at what the process already has plus the
// budget, so the cap also holds where the process starts out large (as under
// AddressSanitizer, which reserves terabytes up front).
void limitMemory() {
  unsigned long long pages = 0;
  if (FILE *statm = fopen("/proc/self/statm", "r")) {
    if (fscanf(statm, "%llu", &pages) != 1)
      pages = 0;
    fclose(statm);
  }
  rlim_t cap = pages * rlim_t(sysconf(_SC_PAGESIZE)) + kDecoderMemoryBytes;
  rlimit as = {cap, cap};
  setrlimit(RLIMIT_AS, &as);
  rlimit core = {0, 0}; // a crashing decoder leaves no core file behind
  setrlimit(RLIMIT_CORE, &core);
}

bool installFilter() {
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (ctx == nullptr)
    return false;
  bool ok = true;
  for (int call :
       {SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(munmap), SCMP_SYS(mremap),
        SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(exit), SCMP_SYS(exit_group),
        SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(futex)})
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) == 0;
  // Memory, but never executable memory.
  ok = ok &&
       seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 1,
                        SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0 &&
       seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(mprotect), 1,
                        SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
  // An alternate signal stack (the sanitizer runtime sets one up for every
  // thread).
  ok = ok &&
       seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(sigaltstack), 0) == 0;
  // Threads, which some decoders start (libheif's), but no new processes:
  // clone3's flags can't be looked at, so it is refused as unknown and the C
  // library falls back to clone, allowed only for a thread.
  ok =
      ok &&
      seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
      seccomp_rule_add(
          ctx, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
          SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0;
  for (int call :
       {SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
        SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid)})
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) == 0;
  // Naming a thread (dav1d names its workers).
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1,
                              SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)) == 0;
  // The amount of memory (libtiff asks before large reads); and no terminal
  // for a library that would print a warning.
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(sysinfo), 0) == 0 &&
       seccomp_rule_add(ctx, SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl), 0) == 0;
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer runtime of the test build checks memory it is about to
  // read by writing it to a pipe of its own.
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(pipe2), 0) == 0 &&
       seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(close), 0) == 0;
#endif
  // The CPU timer that ends a picture's budget.
  ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(setitimer), 1,
                              SCMP_A0(SCMP_CMP_EQ, ITIMER_PROF)) == 0;
  ok = ok && seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return ok;
}

void setCpuTimer(int64_t us) {
  itimerval t = {};
  t.it_value.tv_sec = us / 1000000;
  t.it_value.tv_usec = us % 1000000;
  setitimer(ITIMER_PROF, &t, nullptr);
}

// Decodes one picture into the slot, flipped; fills in its size.
void decode(const DecodeCommand &c, int fd, unsigned char *slot,
            DecodeResult &r) {
  if (c.fileBytes <= 0 || c.fileBytes > INT_MAX)
    return;
  size_t bytes = size_t(c.fileBytes);
  void *mapped = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED)
    return;
  const unsigned char *file = static_cast<unsigned char *>(mapped);
  int w = 0, h = 0, ch = 0;
  // SOIL's PSD reader always returns four channels but may report fewer,
  // which would scramble the picture: ask it for the four it returns.
  int force = c.kind == kPsd ? SOIL_LOAD_RGBA : SOIL_LOAD_AUTO;
  unsigned char *pixels =
      c.decoders & kUseSoil
          ? SOIL_load_image_from_memory(file, int(bytes), &w, &h, &ch, force)
          : nullptr;
  if (force != SOIL_LOAD_AUTO)
    ch = force;
  if (pixels != nullptr && w > 0 && h > 0 && ch >= 1 && ch <= 4 &&
      uint64_t(w) * uint64_t(h) * uint64_t(ch) <= kMaxPictureBytes) {
    size_t row = size_t(w) * size_t(ch);
    for (int y = 0; y < h; y++)
      std::memcpy(slot + size_t(h - 1 - y) * row, pixels + size_t(y) * row,
                  row);
    r.width = w;
    r.height = h;
    r.channels = ch;
  } else if (pixels == nullptr && (c.decoders & kUseSecond) &&
             PixbufDecode(file, bytes, c.kind, slot, kMaxPictureBytes, w, h,
                          ch)) {
    r.width = w;
    r.height = h;
    r.channels = ch;
  }
  SOIL_free_image_data(pixels);
  munmap(mapped, bytes);
}

} // namespace

// A failing decoder may print (an assertion message, a library's warning);
// the viewer prints nothing.
bool silence() {
  int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devnull < 0)
    return false;
  bool ok = true;
  for (int fd = 0; fd <= 2; fd++)
    ok = ok && (devnull == fd || dup2(devnull, fd) == fd);
  if (devnull > 2)
    close(devnull);
  return ok;
}

bool EnterDecoderSandbox(const int keep[], int count) {
  if (!silence())
    return false;

  // Close every descriptor from 3 up that is not kept: the viewer's X
  // connection above all.
  int sorted[kMaxDecoderPictures + 2];
  if (count > kMaxDecoderPictures + 2)
    return false;
  std::copy(keep, keep + count, sorted);
  std::sort(sorted, sorted + count);
  unsigned next = 3;
  for (int i = 0; i < count; i++) {
    if (sorted[i] < int(next))
      continue;
    if (unsigned(sorted[i]) > next)
      close_range(next, unsigned(sorted[i]) - 1, 0);
    next = unsigned(sorted[i]) + 1;
  }
  close_range(next, ~0U, 0);

  // Two things the C library does once, the first time they are needed,
  // done here before the filter: setting up signals for threads, when a
  // process starts its first one; and reading /proc/sys/vm/overcommit_memory,
  // when it first gives back memory of a thread's own arena.
  std::thread([] {
    void *blocks[8];
    for (void *&b : blocks)
      b = malloc(100 << 10);
    for (void *b : blocks)
      free(b);
  }).join();

  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
    return false;
  limitMemory();
  return installFilter();
}

void DecoderMain(const DecoderSetup &setup) {
  if (setup.count > kMaxDecoderPictures)
    _exit(1);
  if (!silence())
    _exit(1);
  if (setup.secondKinds != 0)
    LoadPixbuf(setup.secondKinds);
  int keep[kMaxDecoderPictures + 2], n = 0;
  for (int i = 0; i < setup.count; i++)
    if (setup.pictures[i] >= 0)
      keep[n++] = setup.pictures[i];
  keep[n++] = setup.commands;
  keep[n++] = setup.results;
  if (!EnterDecoderSandbox(keep, n))
    _exit(1);

  DecodeCommand c;
  while (TransferAll(setup.commands, &c, sizeof c, true) && c.index >= 0 &&
         c.index < setup.count) {
    DecodeResult r = {c.index, 0, 0, 0};
    // Past its budget the timer's signal ends this process.
    setCpuTimer(c.cpuBudgetUs);
    decode(c, setup.pictures[c.index],
           setup.slots + size_t(c.slot & 1) * kMaxPictureBytes, r);
    setCpuTimer(0);
    if (!TransferAll(setup.results, &r, sizeof r, false))
      break;
  }
  _exit(0);
}

#include "picture/decoder/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

#include "picture/decoding_limits.h"

namespace {

// What a filter rule looks at in a call's arguments.
enum Condition {
  kAnyArguments,
  kCommandPipe,      // the descriptor (first argument) is the command pipe
  kOwnOutput,        // the descriptor is the result pipe, or standard output
                     // or error (both /dev/null)
  kNotExecutable,    // the protection (third argument) lacks PROT_EXEC
  kMemoryOrAPicture, // not executable, and anonymous memory or one of the
                     // pictures (fifth argument)
  kThreadsOnly,      // clone's flags (first argument) make a thread
  kThreadName,       // prctl(PR_SET_NAME, ...)
  kCpuTimer,         // setitimer(ITIMER_PROF, ...)
  kSanitizerPipe,    // the descriptor is one of the two lowest that are not
                     // open: where a pipe made in the sandbox lands
  kDrawings,         // any arguments, in a decoder readied for drawings only
};

struct Rule {
  int call;
  uint32_t action;
  Condition when;
  const char *why;
};

constexpr uint32_t kAllow = SCMP_ACT_ALLOW;

// Everything a decoder may do once its filter is on; any other call kills
// it. Each row says why the call is there.
// clang-format off
const Rule kRules[] = {
  {SCMP_SYS(read),       kAllow, kCommandPipe,      "the viewer's commands"},
  {SCMP_SYS(write),      kAllow, kOwnOutput,        "answers to the viewer; a library's warnings, into /dev/null"},
  {SCMP_SYS(mmap),       kAllow, kMemoryOrAPicture, "memory, and the pictures mapped to be read; never executable"},
  {SCMP_SYS(mprotect),   kAllow, kNotExecutable,    "guard pages of thread stacks and of the allocator; never executable"},
  {SCMP_SYS(munmap),     kAllow, kAnyArguments,     "giving memory back"},
  {SCMP_SYS(mremap),     kAllow, kAnyArguments,     "growing a large block of memory"},
  {SCMP_SYS(brk),        kAllow, kAnyArguments,     "the heap"},
  {SCMP_SYS(madvise),    kAllow, kAnyArguments,     "the allocator giving pages back"},
  {SCMP_SYS(futex),      kAllow, kAnyArguments,     "threads waiting for each other"},
  {SCMP_SYS(clone),      kAllow, kThreadsOnly,      "threads (libheif and dav1d decode in several), never processes"},
  {SCMP_SYS(clone3),     SCMP_ACT_ERRNO(ENOSYS), kAnyArguments, "its flags can't be looked at: the C library then falls back to clone"},
  {SCMP_SYS(set_robust_list), kAllow, kAnyArguments, "a new thread setting itself up"},
  {SCMP_SYS(rseq),       kAllow, kAnyArguments,     "a new thread setting itself up"},
  {SCMP_SYS(gettid),     kAllow, kAnyArguments,     "a thread asking its own id"},
  {SCMP_SYS(sched_yield), kAllow, kAnyArguments,    "a spinning lock giving way"},
  {SCMP_SYS(sched_getaffinity), kAllow, kAnyArguments, "how many threads to start (dav1d)"},
  {SCMP_SYS(prctl),      kAllow, kThreadName,       "naming a thread (dav1d names its workers)"},
  {SCMP_SYS(sysinfo),    kAllow, kAnyArguments,     "the amount of memory (libtiff asks before large reads)"},
  {SCMP_SYS(ioctl),      SCMP_ACT_ERRNO(ENOTTY), kAnyArguments, "no terminal, for a library about to print a warning"},
  {SCMP_SYS(rt_sigprocmask), kAllow, kAnyArguments, "signal masks: saved by sigsetjmp (GdkPixbuf's JPEG loader), set when starting a thread"},
  {SCMP_SYS(rt_sigreturn), kAllow, kAnyArguments,   "returning from a signal handler"},
  {SCMP_SYS(sigaltstack), kAllow, kAnyArguments,    "a thread's alternate signal stack (the sanitizer runtime sets one up)"},
  {SCMP_SYS(setitimer),  kAllow, kCpuTimer,         "the CPU timer that ends a picture's budget"},
  {SCMP_SYS(exit),       kAllow, kAnyArguments,     "a thread ending"},
  {SCMP_SYS(exit_group), kAllow, kAnyArguments,     "the decoder ending"},
  // librsvg, its text layout and the fonts were readied before the filter;
  // what they still do is answered here.
  {SCMP_SYS(getrandom),  kAllow, kDrawings,         "librsvg's hash maps seed themselves with random numbers"},
  {SCMP_SYS(access),     kAllow, kDrawings,         "cairo asks whether a font file it has mapped is still there, each time it lays text out"},
  {SCMP_SYS(getpeername), SCMP_ACT_ERRNO(ENOTSOCK), kDrawings, "GLib asks whether standard error is the system journal before a warning (a font refused): it is not"},
  {SCMP_SYS(getpid),     kAllow, kDrawings,         "GLib names the process in such a warning, printed into /dev/null"},
  {SCMP_SYS(openat),     SCMP_ACT_ERRNO(EACCES), kDrawings, "a font for a script or face not made ready, or anything started late: refused, the text falls back"},
  {SCMP_SYS(open),       SCMP_ACT_ERRNO(EACCES), kDrawings, "the same, by the older call"},
  {SCMP_SYS(newfstatat), SCMP_ACT_ERRNO(EACCES), kDrawings, "fontconfig looking at a font or folder: refused as the opens are"},
  {SCMP_SYS(stat),       SCMP_ACT_ERRNO(EACCES), kDrawings, "the same, by the older call"},
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer runtime of the test build checks memory it is about to
  // read (when a thread starts, for one) by writing it to a pipe of its own,
  // made and closed each time.
  {SCMP_SYS(pipe2),      kAllow, kAnyArguments,     "the sanitizer runtime making its pipe"},
  {SCMP_SYS(write),      kAllow, kSanitizerPipe,    "the sanitizer runtime checking memory"},
  {SCMP_SYS(close),      kAllow, kSanitizerPipe,    "the sanitizer runtime closing its pipe"},
#endif
};
// clang-format on

// The descriptors the decoder keeps, sorted, each once.
struct Kept {
  int fds[kMaxPictures + 2];
  int count = 0;
  bool has(int fd) const { return std::binary_search(fds, fds + count, fd); }
};

bool keptOf(const DecoderFds &fds, Kept &kept) {
  if (fds.pictureCount < 0 || fds.pictureCount > kMaxPictures)
    return false;
  auto keep = [&](int fd) {
    if (fd >= 0)
      kept.fds[kept.count++] = fd;
  };
  keep(fds.commands);
  keep(fds.results);
  for (int i = 0; i < fds.pictureCount; i++)
    keep(fds.pictures[i]);
  std::sort(kept.fds, kept.fds + kept.count);
  kept.count = int(std::unique(kept.fds, kept.fds + kept.count) - kept.fds);
  return true;
}

// Calls `f` with every open descriptor: as /proc/self/fd lists them, or,
// where that can't be read, by asking after each up to the process's limit.
template <typename F> void forEachOpenFd(F f) {
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (dirent *e = readdir(dir)) {
      int fd = std::atoi(e->d_name);
      if (e->d_name[0] != '.' && fd != dirfd(dir))
        f(fd);
    }
    closedir(dir);
    return;
  }
  rlimit files = {};
  getrlimit(RLIMIT_NOFILE, &files);
  int limit = int(std::min<rlim_t>(files.rlim_cur, 1 << 20));
  for (int fd = 0; fd < limit; fd++)
    if (fcntl(fd, F_GETFD) != -1)
      f(fd);
}

// Closes every descriptor from 3 up that is not kept: the viewer's X
// connection above all. With close_range over the gaps between the kept
// ones; where the kernel lacks it (before 5.9), one by one.
void closeAllBut(const Kept &kept) {
  bool ranged = true;
  unsigned next = 3;
  for (int i = 0; i < kept.count; i++) {
    unsigned fd = unsigned(kept.fds[i]);
    if (fd > next)
      ranged = ranged && close_range(next, fd - 1, 0) == 0;
    next = std::max(next, fd + 1);
  }
  ranged = ranged && close_range(next, ~0U, 0) == 0;
  if (ranged)
    return;
  int highest = -1;
  forEachOpenFd([&](int fd) { highest = std::max(highest, fd); });
  for (int fd = 3; fd <= highest; fd++)
    if (!kept.has(fd))
      close(fd);
}

bool isDevNull(int fd) {
  struct stat null, st;
  return stat("/dev/null", &null) == 0 && fstat(fd, &st) == 0 &&
         S_ISCHR(st.st_mode) && st.st_rdev == null.st_rdev;
}

// Whether nothing is open but the kept descriptors and, at 0 to 2,
// /dev/null.
bool onlyKeptOpen(const Kept &kept) {
  bool only = true;
  forEachOpenFd([&](int fd) {
    only = only && (kept.has(fd) || (fd <= 2 && isDevNull(fd)));
  });
  return only;
}

// Three things the C library does once, the first time they are needed,
// done here before the filter: setting up signals for threads, when a
// process starts its first one; reading /proc/sys/vm/overcommit_memory,
// when it first gives back memory of a thread's own arena; and reading the
// time zone (/etc/localtime), when the time is first asked for as a date
// (lcms2 dates the colour profiles it makes).
void warmUpCLibrary() {
  // Named, the time zone is read once: unnamed, the C library looks at
  // /etc/localtime again each time a date is made (LibRaw makes one of a
  // photo's time).
  setenv("TZ", "UTC", 0);
  tzset();
  std::thread([] {
    void *blocks[8];
    for (void *&b : blocks)
      b = malloc(100 << 10);
    for (void *b : blocks)
      free(b);
  }).join();
}

// The address space is capped at what the process already has plus the
// budget, so the cap also holds where the process starts out large (as under
// AddressSanitizer, which reserves terabytes up front). A crashing decoder
// leaves no core file behind.
bool limitResources() {
  unsigned long long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr)
    return false;
  bool read = fscanf(statm, "%llu", &pages) == 1;
  fclose(statm);
  if (!read)
    return false;
  rlim_t cap = pages * rlim_t(sysconf(_SC_PAGESIZE)) + kDecoderMemoryBytes;
  rlimit as = {cap, cap}, core = {0, 0};
  return setrlimit(RLIMIT_AS, &as) == 0 && setrlimit(RLIMIT_CORE, &core) == 0;
}

scmp_arg_cmp descriptorIs(int fd) {
  return SCMP_A0(SCMP_CMP_MASKED_EQ, 0xffffffff, scmp_datum_t(fd));
}

// Adds one row of the table, as one or more rules of the filter.
bool addRule(scmp_filter_ctx ctx, const Rule &r, const DecoderFds &fds,
             const Kept &kept, bool drawings) {
  auto add = [&](auto... conditions) {
    return seccomp_rule_add(ctx, r.action, r.call, sizeof...(conditions),
                            conditions...) == 0;
  };
  auto onDescriptor = [&](int fd) { return fd < 0 || add(descriptorIs(fd)); };
  const scmp_arg_cmp noExec = SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0);
  switch (r.when) {
  case kAnyArguments:
    return add();
  case kDrawings:
    return !drawings || add();
  case kCommandPipe:
    return onDescriptor(fds.commands);
  case kOwnOutput:
    return onDescriptor(fds.results) &&
           onDescriptor(fds.results == STDOUT_FILENO ? -1 : STDOUT_FILENO) &&
           onDescriptor(fds.results == STDERR_FILENO ? -1 : STDERR_FILENO);
  case kNotExecutable:
    return add(noExec);
  case kMemoryOrAPicture: {
    bool ok =
        add(noExec, SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_ANONYMOUS, MAP_ANONYMOUS));
    for (int i = 0; i < fds.pictureCount; i++)
      if (fds.pictures[i] >= 0)
        ok = ok && add(noExec, SCMP_A4(SCMP_CMP_MASKED_EQ, 0xffffffff,
                                       scmp_datum_t(fds.pictures[i])));
    return ok;
  }
  case kThreadsOnly:
    return add(SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
  case kThreadName:
    return add(SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
  case kCpuTimer:
    return add(SCMP_A0(SCMP_CMP_EQ, ITIMER_PROF));
  case kSanitizerPipe: {
    int fd = 3, found = 0;
    bool ok = true;
    for (; found < 2; fd++)
      if (!kept.has(fd)) {
        ok = ok && onDescriptor(fd);
        found++;
      }
    return ok;
  }
  }
  return false;
}

bool installFilter(const DecoderFds &fds, const Kept &kept, bool drawings) {
  scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_KILL_PROCESS);
  if (ctx == nullptr)
    return false;
  bool ok = true;
  for (const Rule &r : kRules)
    ok = ok && addRule(ctx, r, fds, kept, drawings);
  ok = ok && seccomp_load(ctx) == 0;
  seccomp_release(ctx);
  return ok;
}

} // namespace

bool SilenceOutput(const DecoderFds &fds) {
  Kept kept;
  if (!keptOf(fds, kept))
    return false;
  int devnull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (devnull < 0)
    return false;
  bool ok = true;
  for (int fd = 0; fd <= 2; fd++)
    ok = ok && (devnull == fd || kept.has(fd) || dup2(devnull, fd) == fd);
  if (devnull > 2)
    close(devnull);
  return ok;
}

bool EnterDecoderSandbox(const DecoderFds &fds, bool drawings) {
  Kept kept;
  if (!keptOf(fds, kept))
    return false;
  closeAllBut(kept);
  warmUpCLibrary();
  return onlyKeptOpen(kept) && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         limitResources() && installFilter(fds, kept, drawings);
}

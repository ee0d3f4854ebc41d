#include "picture/decoder/process/sandbox.h"

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

#include "picture/decoder/process/sandbox_rules.h"
#include "picture/decoding_limits.h"

namespace {

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
  // The blocks are kept where the compiler must store them: clang removes
  // a malloc whose block is only freed, and the arena would never shrink.
  std::thread([] {
    void *volatile blocks[8];
    for (void *volatile &b : blocks)
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

// Adds the row's rule with these conditions for each name of its call that
// this architecture has: a name it lacks resolves to a negative number
// (libseccomp's stand-in), which no call ever matches.
template <typename... Conditions>
bool addForEachName(scmp_filter_ctx ctx, const Rule &r,
                    Conditions... conditions) {
  bool ok = true;
  for (const char *name : r.calls) {
    int call = name ? seccomp_syscall_resolve_name(name) : -1;
    if (call >= 0)
      ok = ok && seccomp_rule_add(ctx, r.action, call, sizeof...(conditions),
                                  conditions...) == 0;
  }
  return ok;
}

// Adds one row of the table, as one or more rules of the filter.
bool addRule(scmp_filter_ctx ctx, const Rule &r, const DecoderFds &fds,
             const Kept &kept, bool drawings) {
  auto add = [&](auto... conditions) {
    return addForEachName(ctx, r, conditions...);
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
  for (size_t i = 0; i < kRuleCount; i++)
    ok = ok && addRule(ctx, kRules[i], fds, kept, drawings);
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

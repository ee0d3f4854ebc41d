#include "picture/decoder/sandbox_rules.h"

#include <cerrno>
#include <seccomp.h>

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
const size_t kRuleCount = sizeof kRules / sizeof *kRules;

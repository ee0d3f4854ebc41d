#include "picture/decoder/process/sandbox_rules.h"

#include <cerrno>
#include <seccomp.h>

constexpr uint32_t kAllow = SCMP_ACT_ALLOW;

// Everything a decoder may do once its filter is on; any other call kills
// it. Each row names the call as every architecture has it (arm64 has no
// access, open or stat: its C library makes faccessat, openat, newfstatat),
// and says why the call is there.
// clang-format off
const Rule kRules[] = {
  {{"read"},       kAllow, kCommandPipe,      "the viewer's commands"},
  {{"write"},      kAllow, kOwnOutput,        "answers to the viewer; a library's warnings, into /dev/null"},
  {{"mmap"},       kAllow, kMemoryOrAPicture, "memory, and the pictures mapped to be read; never executable"},
  {{"mprotect"},   kAllow, kNotExecutable,    "guard pages of thread stacks and of the allocator; never executable"},
  {{"munmap"},     kAllow, kAnyArguments,     "giving memory back"},
  {{"mremap"},     kAllow, kAnyArguments,     "growing a large block of memory"},
  {{"brk"},        kAllow, kAnyArguments,     "the heap"},
  {{"madvise"},    kAllow, kAnyArguments,     "the allocator giving pages back"},
  {{"futex"},      kAllow, kAnyArguments,     "threads waiting for each other"},
  {{"clone"},      kAllow, kThreadsOnly,      "threads (libheif and dav1d decode in several), never processes"},
  {{"clone3"},     SCMP_ACT_ERRNO(ENOSYS), kAnyArguments, "its flags can't be looked at: the C library then falls back to clone"},
  {{"set_robust_list"}, kAllow, kAnyArguments, "a new thread setting itself up"},
  {{"rseq"},       kAllow, kAnyArguments,     "a new thread setting itself up"},
  {{"gettid"},     kAllow, kAnyArguments,     "a thread asking its own id"},
  {{"sched_yield"}, kAllow, kAnyArguments,    "a spinning lock giving way"},
  {{"sched_getaffinity"}, kAllow, kAnyArguments, "how many threads to start (dav1d)"},
  {{"prctl"},      kAllow, kThreadName,       "naming a thread (dav1d names its workers)"},
  {{"sysinfo"},    kAllow, kAnyArguments,     "the amount of memory (libtiff asks before large reads)"},
  {{"ioctl"},      SCMP_ACT_ERRNO(ENOTTY), kAnyArguments, "no terminal, for a library about to print a warning"},
  {{"rt_sigprocmask"}, kAllow, kAnyArguments, "signal masks: saved by sigsetjmp (GdkPixbuf's JPEG loader), set when starting a thread"},
  {{"rt_sigreturn"}, kAllow, kAnyArguments,   "returning from a signal handler"},
  {{"sigaltstack"}, kAllow, kAnyArguments,    "a thread's alternate signal stack (the sanitizer runtime sets one up)"},
  {{"setitimer"},  kAllow, kCpuTimer,         "the CPU timer that ends a picture's budget"},
  {{"clock_gettime"}, kAllow, kAnyArguments, "the time, where the kernel's clock page can't give it: a clip drops what is late by it"},
  {{"exit"},       kAllow, kAnyArguments,     "a thread ending"},
  {{"exit_group"}, kAllow, kAnyArguments,     "the decoder ending"},
  // librsvg, its text layout and the fonts were readied before the filter;
  // what they still do is answered here.
  {{"getrandom"},  kAllow, kDrawings,         "librsvg's hash maps seed themselves with random numbers"},
  {{"access", "faccessat", "faccessat2"}, kAllow, kDrawings, "cairo asks whether a font file it has mapped is still there, each time it lays text out (arm64 has faccessat only)"},
  {{"getpeername"}, SCMP_ACT_ERRNO(ENOTSOCK), kDrawings, "GLib asks whether standard error is the system journal before a warning (a font refused): it is not"},
  {{"getpid"},     kAllow, kDrawings,         "GLib names the process in such a warning, printed into /dev/null"},
  {{"openat", "open"}, SCMP_ACT_ERRNO(EACCES), kDrawings, "a font for a script or face not made ready, or anything started late: refused, the text falls back"},
  {{"newfstatat", "stat"}, SCMP_ACT_ERRNO(EACCES), kDrawings, "fontconfig looking at a font or folder: refused as the opens are"},
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer runtime of the test build checks memory it is about to
  // read (when a thread starts, for one) by writing it to a pipe of its own,
  // made and closed each time.
  {{"pipe2"},      kAllow, kAnyArguments,     "the sanitizer runtime making its pipe"},
  {{"write"},      kAllow, kSanitizerPipe,    "the sanitizer runtime checking memory"},
  {{"close"},      kAllow, kSanitizerPipe,    "the sanitizer runtime closing its pipe"},
#endif
};
// clang-format on
const size_t kRuleCount = sizeof kRules / sizeof *kRules;

// The decoder's seccomp filter as one table: every system call a decoder
// may make once its sandbox is on, what of its arguments is looked at, and
// why it is there (sandbox.cpp turns the rows into the filter).
#pragma once

#include <cstddef>
#include <cstdint>

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

// A row's call, by the names it has on the architectures a decoder runs
// on (x86-64, arm64): those this one lacks are left out of its filter.
constexpr int kMostNamesOfACall = 3;

struct Rule {
  const char *calls[kMostNamesOfACall];
  uint32_t action;
  Condition when;
  const char *why;
};

extern const Rule kRules[];
extern const size_t kRuleCount;

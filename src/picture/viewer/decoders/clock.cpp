#include "picture/viewer/decoders/clock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

int64_t monotonicUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

std::atomic<int64_t> stoppedUs{0};
static_assert(std::atomic<int64_t>::is_always_lock_free, "for a handler");

// Stops as SIGTSTP would, and counts how long.
void stopCounted(int) {
  int saved = errno;
  int64_t at = monotonicUs();
  raise(SIGSTOP);
  stoppedUs += monotonicUs() - at;
  errno = saved;
}

bool countStops() {
  struct sigaction a = {};
  a.sa_handler = stopCounted;
  a.sa_flags = SA_RESTART;
  sigemptyset(&a.sa_mask);
  return sigaction(SIGTSTP, &a, nullptr) == 0;
}

} // namespace

int64_t NowUs() {
  static const bool counting = countStops();
  (void)counting;
  return monotonicUs() - stoppedUs;
}

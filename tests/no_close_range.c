/* Preloaded into the viewer to play a kernel older than 5.9, which has no
 * close_range system call: every call fails as it would there. */
#define _GNU_SOURCE
#include <errno.h>

int close_range(unsigned int first, unsigned int last, int flags) {
  (void)first;
  (void)last;
  (void)flags;
  errno = ENOSYS;
  return -1;
}

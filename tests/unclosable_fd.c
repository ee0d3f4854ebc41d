/* Preloaded into the viewer, with no_close_range.c, to play a descriptor
 * that can't be closed: at start it opens one more (at kStuck), and close()
 * fails on it, so the viewer's decoders can't give it up. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

enum { kStuck = 100 };

__attribute__((constructor)) static void openStuck(void) {
  int fd = open("/dev/null", O_RDONLY);
  if (fd >= 0 && fd != kStuck) {
    dup2(fd, kStuck);
    close(fd);
  }
}

int close(int fd) {
  static int (*real)(int);
  if (fd == kStuck) {
    errno = EIO;
    return -1;
  }
  if (!real)
    *(void **)&real = dlsym(RTLD_NEXT, "close");
  return real(fd);
}

/* Preloaded into the decoders to play libjpeg-turbo as it is on arm64,
 * where it reads /proc/cpuinfo the first time it decodes, to choose its
 * SIMD code: the first call to start decoding opens that file, and a
 * decoder whose sandbox is already on is killed by it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <jpeglib.h>

boolean jpeg_start_decompress(j_decompress_ptr jpeg) {
  static boolean (*real)(j_decompress_ptr);
  static int opened;
  if (!opened) {
    opened = 1;
    int fd = open("/proc/cpuinfo", O_RDONLY);
    if (fd >= 0)
      close(fd);
  }
  if (!real)
    *(void **)&real = dlsym(RTLD_NEXT, "jpeg_start_decompress");
  return real(jpeg);
}

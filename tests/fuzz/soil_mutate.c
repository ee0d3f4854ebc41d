/* Mutation run over valid pictures against bare SOIL, to collect files that
 * crash or hang its decoder. Each mutant is decoded in a child with a CPU
 * limit; the ones whose child dies by a signal (crash, abort, CPU limit) are
 * kept in the output folder.
 *
 *   soil_mutate OUTDIR COUNT SEED FILE...
 *
 * tests/data/bad-pictures came from runs of 20,000 to 60,000 mutants each over
 * small JPEG, PNG, PSD, TGA and BMP files made with ImageMagick.
 */
#include <SOIL/SOIL.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

static unsigned char *slurp(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  if (!f)
    return NULL;
  fseek(f, 0, SEEK_END);
  long n = ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char *data = malloc(n);
  if (fread(data, 1, n, f) != (size_t)n)
    n = 0;
  fclose(f);
  *size = n;
  return data;
}

/* A few random edits: flipped bits, random or extreme bytes and 16/32-bit
 * values, and now and then a cut, as in a download cut short. Returns the new
 * size. */
static size_t mutate(unsigned char *data, size_t size) {
  static const uint32_t extremes[] = {
      0, 1, 0x7f, 0x80, 0xff, 0x7fff, 0x8000, 0xffff, 0x7fffffff, 0xffffffff};
  int edits = 1 + rand() % 8;
  for (int e = 0; e < edits; e++) {
    size_t at = rand() % size;
    switch (rand() % 6) {
    case 0:
      data[at] ^= 1u << (rand() % 8);
      break;
    case 1:
      data[at] = rand();
      break;
    case 2:
      data[at] = (rand() % 2) ? 0xff : 0x00;
      break;
    case 3:
      data[at] += (rand() % 2) ? 1 : -1;
      break;
    case 4: {
      uint32_t v = extremes[rand() % 10];
      int width = (rand() % 2) ? 2 : 4;
      for (int b = 0; b < width && at + b < size; b++)
        data[at + b] = (rand() % 2) ? v >> (8 * b) : v >> (8 * (width - 1 - b));
      break;
    }
    case 5:
      if (rand() % 4 == 0)
        size = at + 1;
      break;
    }
  }
  return size;
}

int main(int argc, char **argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: %s OUTDIR COUNT SEED FILE...\n", argv[0]);
    return 2;
  }
  const char *outdir = argv[1];
  long count = atol(argv[2]);
  srand(atoi(argv[3]));
  int kept = 0;
  for (long n = 0; n < count; n++) {
    const char *seed = argv[4 + n % (argc - 4)];
    size_t size;
    unsigned char *data = slurp(seed, &size);
    if (!data || size == 0)
      return 1;
    size = mutate(data, size);
    char path[512];
    snprintf(path, sizeof path, "%s/candidate.bin", outdir);
    FILE *f = fopen(path, "wb");
    fwrite(data, 1, size, f);
    fclose(f);

    pid_t pid = fork();
    if (pid == 0) {
      struct rlimit cpu = {2, 3}, core = {0, 0};
      setrlimit(RLIMIT_CPU, &cpu);
      setrlimit(RLIMIT_CORE, &core);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 2);
      int w, h, c;
      unsigned char *img = SOIL_load_image(path, &w, &h, &c, SOIL_LOAD_AUTO);
      SOIL_free_image_data(img);
      _exit(0);
    }
    int status;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
      const char *ext = strrchr(seed, '.');
      char keep[512];
      snprintf(keep, sizeof keep, "%s/sig%d-%03d%s", outdir, WTERMSIG(status),
               kept++, ext ? ext : "");
      rename(path, keep);
      printf("%ld: %s (signal %d)\n", n, keep, WTERMSIG(status));
      fflush(stdout);
    }
    free(data);
  }
  printf("%ld mutants, %d kept\n", count, kept);
  return 0;
}

/* Mutation runs over valid pictures, to collect files that crash or hang a
 * decoder; the mutants whose decoder dies by a signal are kept in the output
 * folder, named after the signal.
 *
 *   picture_mutate soil OUTDIR COUNT SEED FILE...
 *   picture_mutate pixbuf OUTDIR COUNT SEED FILE...
 *   picture_mutate libjpeg OUTDIR COUNT SEED FILE...
 *   picture_mutate libjxl OUTDIR COUNT SEED FILE...
 *
 * A COUNT of 0 decodes each FILE once as it is, to check one found before.
 * "soil": bare SOIL in a child with a 2 s CPU limit (crash, abort, CPU
 * limit). "pixbuf": the viewer's own decoder process with GdkPixbuf readied
 * for the seeds' kinds, reading with GdkPixbuf in its sandbox ("libjpeg": with
 * libjpeg-turbo, the seeds being JPEGs; "libjxl": with libjxl, the seeds
 * being JPEG XL pictures), with the budget
 * the viewer would give each mutant (crash, abort, budget, and SIGSYS for a
 * system call the sandbox refused); one decoder serves mutants until one
 * kills it.
 *
 * tests/data/bad-pictures came from runs of 20,000 to 60,000 mutants each over
 * small JPEG, PNG, PSD, TGA and BMP files made with ImageMagick, and from
 * runs through GdkPixbuf (see the README).
 */
#include <SOIL/SOIL.h>
#include <csignal>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "picture/decoder/process/decoder.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/decoders/budget.h"

unsigned char *slurp(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  if (!f)
    return NULL;
  fseek(f, 0, SEEK_END);
  long n = ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char *data = static_cast<unsigned char *>(malloc(n));
  if (fread(data, 1, n, f) != (size_t)n)
    n = 0;
  fclose(f);
  *size = n;
  return data;
}

/* A few random edits: flipped bits, random or extreme bytes and 16/32-bit
 * values, and now and then a cut, as in a download cut short. Returns the new
 * size. */
size_t mutate(unsigned char *data, size_t size) {
  static const uint32_t extremes[] = {
      0, 1, 0x7f, 0x80, 0xff, 0x7fff, 0x8000, 0xffff, 0x7fffffff, 0xffffffff};
  int edits = 1 + rand() % 8;
  for (int e = 0; e < edits; e++) {
    size_t at = size_t(rand()) % size;
    switch (rand() % 6) {
    case 0:
      data[at] ^= 1u << (rand() % 8);
      break;
    case 1:
      data[at] = static_cast<unsigned char>(rand());
      break;
    case 2:
      data[at] = (rand() % 2) ? 0xff : 0x00;
      break;
    case 3:
      data[at] = static_cast<unsigned char>(data[at] + ((rand() % 2) ? 1 : -1));
      break;
    case 4: {
      uint32_t v = extremes[rand() % 10];
      int width = (rand() % 2) ? 2 : 4;
      for (int b = 0; b < width && at + b < size; b++)
        data[at + b] = static_cast<unsigned char>(
            (rand() % 2) ? v >> (8 * b) : v >> (8 * (width - 1 - b)));
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

// Bare SOIL in a child with a CPU limit; its exit status.
int decodeWithSoil(const char *path) {
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
  return status;
}

// The largest texture, as Mesa's software renderer has it.
constexpr int kMaxSide = 16384;

// The viewer's decoder process, serving one picture file that is rewritten
// for every mutant.
struct Decoder {
  pid_t pid = -1;
  int commands = -1, results = -1, picture = -1;
  unsigned char *slots = nullptr;
  unsigned kinds = 0;   // GdkPixbuf readied for these
  uint32_t readers = 0; // the readers asked for
};

void start(Decoder &d) {
  int commands[2], results[2];
  if (pipe(commands) != 0 || pipe(results) != 0)
    exit(1);
  d.pid = fork();
  if (d.pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    rlimit core = {0, 0};
    setrlimit(RLIMIT_CORE, &core);
    DecoderMain({{commands[0], results[1], &d.picture, 1},
                 d.slots,
                 d.kinds,
                 nullptr,
                 0,
                 false});
  }
  close(commands[0]);
  close(results[1]);
  d.commands = commands[1];
  d.results = results[0];
}

// Decodes the mutant in the decoder; a wait status, as from waitpid (0 when
// the decoder answered).
int decodeInDecoder(Decoder &d, size_t size) {
  if (d.pid < 0)
    start(d);
  int kind = PictureKindOf(ByteSource{d.picture, nullptr, size});
  if (kind == kNotAPicture) // no decoder would be asked
    return 0;
  int64_t budget = PictureBudgetUs(d.picture, int64_t(size), kind, kMaxSide);
  if (budget < 0)
    return 0;
  DecodeCommand c = {
      0, 0,        kind, d.readers, int64_t(size), budget, {kMaxSide, 0}, 0,
      0, kNoPhoto, 0,    0};
  DecodeResult r;
  if (WriteMessage(d.commands, c) && ReadMessage(d.results, r))
    return 0;
  close(d.commands);
  close(d.results);
  int status;
  waitpid(d.pid, &status, 0);
  d.pid = -1;
  return status;
}

int main(int argc, char **argv) {
  if (argc < 6 || (strcmp(argv[1], "soil") && strcmp(argv[1], "pixbuf") &&
                   strcmp(argv[1], "libjpeg") && strcmp(argv[1], "libjxl"))) {
    fprintf(stderr,
            "usage: %s soil|pixbuf|libjpeg|libjxl OUTDIR COUNT SEED FILE...\n",
            argv[0]);
    return 2;
  }
  bool soil = !strcmp(argv[1], "soil");
  const char *outdir = argv[2];
  long count = atol(argv[3]);
  srand(unsigned(atoi(argv[4])));
  char path[512];
  snprintf(path, sizeof path, "%s/candidate.bin", outdir);
  signal(SIGPIPE, SIG_IGN);

  Decoder decoder;
  decoder.readers = !strcmp(argv[1], "libjpeg")  ? kReadWithLibjpeg
                    : !strcmp(argv[1], "libjxl") ? kReadWithJxl
                                                 : kReadWithPixbuf;
  decoder.slots = static_cast<unsigned char *>(
      mmap(nullptr, 2 * kMaxPictureBytes, PROT_READ | PROT_WRITE,
           MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
  decoder.picture = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600);
  for (int i = 5; i < argc; i++) {
    size_t size;
    unsigned char *data = slurp(argv[i], &size);
    if (data == nullptr || pwrite(decoder.picture, data, size, 0) < 0)
      return 1;
    int kind = PictureKindOf(ByteSource{-1, data, size});
    if (decoder.readers != kReadWithLibjpeg && kind != kNotAPicture)
      decoder.kinds |= 1u << kind;
    free(data);
  }

  int kept = 0;
  bool replay = count == 0;
  if (replay)
    count = argc - 5;
  for (long n = 0; n < count; n++) {
    const char *seed = argv[5 + n % (argc - 5)];
    size_t size;
    unsigned char *data = slurp(seed, &size);
    if (!data || size == 0)
      return 1;
    if (!replay)
      size = mutate(data, size);
    if (ftruncate(decoder.picture, 0) != 0 ||
        pwrite(decoder.picture, data, size, 0) != ssize_t(size))
      return 1;
    free(data);

    int status = soil ? decodeWithSoil(path) : decodeInDecoder(decoder, size);
    if (WIFSIGNALED(status)) {
      const char *ext = strrchr(seed, '.');
      char keep[512];
      snprintf(keep, sizeof keep, "%s/sig%d-%03d%s", outdir, WTERMSIG(status),
               kept++, ext ? ext : "");
      int out = open(keep, O_WRONLY | O_CREAT | O_TRUNC, 0600);
      unsigned char *copy = slurp(path, &size);
      if (out < 0 || copy == nullptr || write(out, copy, size) < 0)
        return 1;
      close(out);
      free(copy);
      printf("%ld: %s (signal %d)\n", n, keep, WTERMSIG(status));
      fflush(stdout);
    }
  }
  printf("%ld mutants, %d kept\n", count, kept);
  return 0;
}

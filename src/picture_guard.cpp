#include "picture_guard.h"

#include <SOIL/SOIL.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Limits for decoding one picture. A 24-megapixel JPEG decodes in well under
// a second and about 200 MiB; these leave room for slow machines and
// sanitizer builds while keeping a hostile file from stalling the start.
constexpr rlim_t kDecodeCpuSeconds = 10;
constexpr int kDecodeWallMilliseconds = 15000;
constexpr uint64_t kDecodeMemoryBytes = uint64_t{1536} << 20;

// Sent by the decoder before each picture's pixels; a failed picture is sent
// with width 0 and no pixels.
struct PictureHeader {
  int32_t index, width, height, channels;
};

bool write_all(int fd, const void *data, size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

long long now_ms() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// Reads exactly size bytes unless the pipe closes or the deadline passes.
bool read_all(int fd, void *data, size_t size, long long deadline) {
  char *p = static_cast<char *>(data);
  while (size > 0) {
    long long left = deadline - now_ms();
    if (left <= 0)
      return false;
    pollfd pfd = {fd, POLLIN, 0};
    int ready = poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The address space is capped at what the process already has plus the
// budget, so the cap also holds where the process starts out large (as under
// AddressSanitizer, which reserves terabytes up front).
void limit_memory() {
  unsigned long long pages = 0;
  if (FILE *statm = fopen("/proc/self/statm", "r")) {
    if (fscanf(statm, "%llu", &pages) != 1)
      pages = 0;
    fclose(statm);
  }
  rlim_t cap =
      pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + kDecodeMemoryBytes;
  rlimit as = {cap, cap};
  setrlimit(RLIMIT_AS, &as);
}

// Gives the next picture its own CPU allowance on top of what the process
// has used so far.
void limit_cpu() {
  rusage used;
  getrusage(RUSAGE_SELF, &used);
  rlimit cpu;
  getrlimit(RLIMIT_CPU, &cpu);
  cpu.rlim_cur = static_cast<rlim_t>(used.ru_utime.tv_sec) +
                 static_cast<rlim_t>(used.ru_stime.tv_sec) + 1 +
                 kDecodeCpuSeconds;
  if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur > cpu.rlim_max)
    cpu.rlim_cur = cpu.rlim_max;
  setrlimit(RLIMIT_CPU, &cpu);
}

// Runs in the child: decodes files[first] onwards with SOIL and sends each
// one's header and pixels down the pipe. Never returns.
[[noreturn]] void decode_in_child(const char *const files[], int first,
                                  int count, int out) {
  // A failing decoder may print (an assertion message, say); the viewer
  // prints nothing.
  int devnull = open("/dev/null", O_RDWR);
  if (devnull >= 0) {
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
  }
  rlimit core = {0, 0}; // a crashing decoder leaves no core file behind
  setrlimit(RLIMIT_CORE, &core);
  limit_memory();

  for (int i = first; i < count; i++) {
    limit_cpu();
    PictureHeader header = {i, 0, 0, 0};
    unsigned char *pixels = nullptr;
    struct stat st;
    if (stat(files[i], &st) == 0 && S_ISREG(st.st_mode))
      pixels = SOIL_load_image(files[i], &header.width, &header.height,
                               &header.channels, SOIL_LOAD_AUTO);
    if (pixels == nullptr)
      header.width = header.height = header.channels = 0;
    size_t size = static_cast<size_t>(header.width) *
                  static_cast<size_t>(header.height) *
                  static_cast<size_t>(header.channels);
    if (!write_all(out, &header, sizeof header) ||
        !write_all(out, pixels, size))
      _exit(1);
    SOIL_free_image_data(pixels);
  }
  _exit(0);
}

} // namespace

void LoadGuardedTextures(const char *const files[], unsigned int textures[],
                         int count) {
  for (int i = 0; i < count; i++)
    textures[i] = 0;

  // One decoder child takes the pictures in turn. When it dies or stalls on
  // one, that picture has failed and a new child goes on with the next.
  std::vector<unsigned char> pixels;
  int next = 0;
  while (next < count) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
      return;
    pid_t child = fork();
    if (child < 0) {
      close(fds[0]);
      close(fds[1]);
      return;
    }
    if (child == 0) {
      close(fds[0]);
      decode_in_child(files, next, count, fds[1]);
    }
    close(fds[1]);

    for (; next < count; next++) {
      long long deadline = now_ms() + kDecodeWallMilliseconds;
      PictureHeader h;
      if (!read_all(fds[0], &h, sizeof h, deadline) || h.index != next)
        break;
      if (h.width == 0)
        continue; // the decoder could not read it
      uint64_t size =
          uint64_t(h.width > 0 ? h.width : 0) *
          uint64_t(h.height > 0 ? h.height : 0) *
          uint64_t(h.channels >= 1 && h.channels <= 4 ? h.channels : 0);
      if (size == 0 || size > kDecodeMemoryBytes)
        break;
      pixels.resize(size);
      if (!read_all(fds[0], pixels.data(), size, deadline))
        break;
      textures[next] =
          SOIL_create_OGL_texture(pixels.data(), h.width, h.height, h.channels,
                                  SOIL_CREATE_NEW_ID, SOIL_FLAG_INVERT_Y);
    }
    close(fds[0]);

    // A child that sent every picture is exiting; any other is stopped, and
    // the picture it was on stays at 0.
    if (next < count) {
      kill(child, SIGKILL);
      next++;
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

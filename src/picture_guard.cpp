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

struct PictureHeader {
  int32_t width, height, channels;
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
void limit_child() {
  rlimit cpu = {kDecodeCpuSeconds, kDecodeCpuSeconds + 1};
  setrlimit(RLIMIT_CPU, &cpu);
  rlimit core = {0, 0};
  setrlimit(RLIMIT_CORE, &core);

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

// Runs in the child: decode with SOIL and send header and pixels down the
// pipe. Never returns.
[[noreturn]] void decode_in_child(const char *file, int out) {
  // A failing decoder may print (an assertion message, say); the viewer
  // prints nothing.
  int devnull = open("/dev/null", O_RDWR);
  if (devnull >= 0) {
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
  }
  limit_child();

  struct stat st;
  if (stat(file, &st) != 0 || !S_ISREG(st.st_mode))
    _exit(1);
  PictureHeader header;
  unsigned char *pixels = SOIL_load_image(file, &header.width, &header.height,
                                          &header.channels, SOIL_LOAD_AUTO);
  if (pixels == nullptr)
    _exit(1);
  size_t size = static_cast<size_t>(header.width) *
                static_cast<size_t>(header.height) *
                static_cast<size_t>(header.channels);
  bool sent =
      write_all(out, &header, sizeof header) && write_all(out, pixels, size);
  _exit(sent ? 0 : 1);
}

} // namespace

unsigned int LoadGuardedTexture(const char *file) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return 0;
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return 0;
  }
  if (child == 0) {
    close(fds[0]);
    decode_in_child(file, fds[1]);
  }
  close(fds[1]);

  long long deadline = now_ms() + kDecodeWallMilliseconds;
  PictureHeader header = {0, 0, 0};
  std::vector<unsigned char> pixels;
  bool received = read_all(fds[0], &header, sizeof header, deadline);
  if (received) {
    uint64_t size = uint64_t(header.width > 0 ? header.width : 0) *
                    uint64_t(header.height > 0 ? header.height : 0) *
                    uint64_t(header.channels);
    received = size > 0 && size <= kDecodeMemoryBytes && header.channels >= 1 &&
               header.channels <= 4;
    if (received) {
      pixels.resize(size);
      received = read_all(fds[0], pixels.data(), size, deadline);
    }
  }
  close(fds[0]);

  // A child that sent everything is about to exit; any other is stopped.
  if (!received)
    kill(child, SIGKILL);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return 0;

  return SOIL_create_OGL_texture(pixels.data(), header.width, header.height,
                                 header.channels, SOIL_CREATE_NEW_ID,
                                 SOIL_FLAG_INVERT_Y);
}

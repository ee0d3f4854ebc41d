// A decoder's start and memory, measured in the viewer's own way of
// starting one (picture/viewer/decoders/decoder_processes.h):
//   decoder_start RUNS TINY PHOTO
// starts RUNS decoders one after the other, each on the picture TINY, and
// prints the median time from the start to its answer in milliseconds;
// then one on PHOTO, and prints its resident memory at its peak (VmHWM,
// KiB) once it has answered.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "picture/kinds.h"
#include "picture/viewer/decoders/decoder_processes.h"

namespace {

double nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Decodes `path` in a new decoder of `pool`: the time to its answer, or -1;
// its peak resident memory in `peakKib` before it is stopped.
double decodeOnce(DecoderPool &pool, const char *path, long &peakKib) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0)
    return -1;
  DecoderProcess &d = pool.decoders[0];
  DecoderJob job = {&fd, 1, nullptr, 0, false};
  int kind = PictureKindOf(ByteSource{fd, nullptr, uint64_t(st.st_size)});
  double start = nowMs();
  bool sent = kind != kNotAPicture && StartDecoder(d, job, 0) &&
              SendPicture(d,
                          {0,
                           0,
                           kind,
                           kPictureKinds[kind].readers,
                           st.st_size,
                           30000000,
                           {16384, 691},
                           0,
                           0,
                           kNoPhoto,
                           0,
                           0},
                          60000000);
  close(fd);
  pollfd answer = {d.results, POLLIN, 0};
  DecodeResult r;
  bool answered = sent && poll(&answer, 1, 60000) == 1 && ReadAnswer(d, r);
  double ms = nowMs() - start;
  std::ifstream status("/proc/" + std::to_string(d.pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmHWM:", 0) == 0)
      peakKib = std::atol(line.c_str() + 6);
  StopDecoder(d, false);
  return answered && r.reader != kNoReader ? ms : -1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 4)
    return 2;
  int runs = std::atoi(argv[1]);
  DecoderPool pool;
  MakePool(pool, 1, 0, 0);
  if (pool.count != 1)
    return 1;
  std::vector<double> times;
  long peak = 0;
  for (int i = 0; i < runs; i++) {
    double ms = decodeOnce(pool, argv[2], peak);
    if (ms < 0)
      return 1;
    times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  if (decodeOnce(pool, argv[3], peak) < 0)
    return 1;
  ReleasePool(pool);
  std::printf("%.2f %ld\n", times[times.size() / 2], peak);
  return 0;
}

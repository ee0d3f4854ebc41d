#include "picture/protocol.h"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

namespace {

// A whole decimal number within [low, high]; false for anything else.
bool number(const char *s, int64_t low, int64_t high, int64_t &out) {
  if (s == nullptr || *s == '\0')
    return false;
  char *end = nullptr;
  errno = 0;
  long long v = std::strtoll(s, &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high)
    return false;
  out = v;
  return true;
}

} // namespace

std::string DecoderProgram(const std::string &viewer) {
  const char *name = "vorlix-decode";
  std::string beside = viewer.substr(0, viewer.rfind('/') + 1) + name;
  if (viewer.find('/') != std::string::npos &&
      access(beside.c_str(), X_OK) == 0)
    return beside;
  return std::string(VORLIX_LIBEXEC_DIR "/") + name;
}

std::vector<std::string> FormatDecoderArguments(const DecoderArguments &a) {
  std::vector<std::string> args = {"vorlix-decode",
                                   std::to_string(a.viewer),
                                   std::to_string(a.commands),
                                   std::to_string(a.results),
                                   std::to_string(a.slots),
                                   std::to_string(a.profileBytes),
                                   std::to_string(a.readyKinds),
                                   a.behind ? "1" : "0"};
  for (int i = 0; i < a.pictureCount; i++)
    args.push_back(std::to_string(a.pictures[i]));
  return args;
}

bool ParseDecoderArguments(int argc, const char *const argv[],
                           DecoderArguments &a) {
  constexpr int kFixed = 8; // the program's name and seven numbers
  if (argc < kFixed || argc - kFixed > kMaxPictures)
    return false;
  int64_t v[kFixed - 1];
  const int64_t kFd = 1 << 20;
  const int64_t high[kFixed - 1] = {
      INT32_MAX, kFd, kFd, kFd, int64_t(kMaxProfileBytes), UINT32_MAX, 1};
  for (int i = 0; i < kFixed - 1; i++)
    if (!number(argv[i + 1], i == 0 ? 1 : 0, high[i], v[i]))
      return false;
  a.viewer = v[0];
  a.commands = int(v[1]);
  a.results = int(v[2]);
  a.slots = int(v[3]);
  a.profileBytes = v[4];
  a.readyKinds = uint32_t(v[5]);
  a.behind = v[6] == 1;
  a.pictureCount = argc - kFixed;
  for (int i = 0; i < a.pictureCount; i++) {
    int64_t fd;
    if (!number(argv[kFixed + i], -1, kFd, fd))
      return false;
    a.pictures[i] = int(fd);
  }
  return true;
}

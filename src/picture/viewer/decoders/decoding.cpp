#include "picture/viewer/decoders/decoding.h"

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/viewer/decoders/budget.h"

OpenedPicture OpenPicture(const char *path, int maxSide) {
  OpenedPicture p;
  p.fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  if (p.fd < 0 || fstat(p.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size <= 0) {
    ClosePicture(p);
    return p;
  }
  p.device = st.st_dev;
  p.inode = st.st_ino;
  p.bytes = st.st_size;
  p.kind = PictureKindOf(ByteSource{p.fd, nullptr, uint64_t(p.bytes)});
  if (p.kind != kNotAPicture)
    p.budgetUs = PictureBudgetUs(p.fd, p.bytes, p.kind, maxSide);
  return p;
}

void ClosePicture(OpenedPicture &p) {
  if (p.fd >= 0)
    close(p.fd);
  p = {};
}

OpenedPicture OpenMotion(const char *path, const OpenedPicture &photo) {
  OpenedPicture motion;
  if (photo.fd < 0 || (photo.kind != kJpegKind && photo.kind != kHeifKind))
    return motion;
  motion = OpenPicture(path, 0);
  if (motion.fd >= 0 && (!IsClip(motion.kind) || motion.budgetUs <= 0))
    ClosePicture(motion);
  return motion;
}

OpenedPicture OpenMotionBeside(const char *path, const OpenedPicture &photo) {
  std::string name = path;
  size_t dot = name.rfind('.'), slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    dot = name.size();
  OpenedPicture motion;
  for (const char *ending : {".mov", ".MOV"})
    if (motion.fd < 0)
      motion = OpenMotion((name.substr(0, dot) + ending).c_str(), photo);
  return motion;
}

bool SendStill(DecoderProcess &d, int index, const OpenedPicture &p,
               uint32_t readers, ShownSize size) {
  DecodeCommand c = {index, 0, p.kind, readers,  p.bytes, p.budgetUs,
                     size,  0, 0,      kNoPhoto, 0,       0};
  return SendPicture(d, c, kWallFactor * p.budgetUs + kWallSlackUs);
}

Answer TakeAnswer(DecoderProcess &d, int maxSide, DecodeResult &r) {
  pollfd answer = {d.results, POLLIN, 0};
  if (poll(&answer, 1, 0) <= 0)
    return PastDeadline(d) ? Answer::kFailed : Answer::kNotYet;
  r = {};
  return ReadAnswer(d, r) && AcceptAnswer(d, r, maxSide) ? Answer::kTaken
                                                         : Answer::kFailed;
}

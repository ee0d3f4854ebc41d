#include "picture/viewer/ahead.h"

#include <GL/gl.h>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/budget.h"
#include "picture/viewer/decoder_processes.h"
#include "picture/viewer/screen.h"
#include "picture/viewer/textures.h"

namespace {

// What every picture is decoded with, read once, at the first picture.
struct Ahead {
  bool ready = false;
  ScreenFacts screen;
  ShownSize size = {0, 0};
  DecoderPool pool; // one decoder, its two slots kept for the whole show
  DecoderProcess *decoder = nullptr;
  int picture = -1;    // the show's number of the one being decoded
  bool failed = false; // it failed before a decoder was started
  // Its answer, taken, its texture made over the next two frames (its
  // mipmaps, then the texture): each a few milliseconds of work.
  bool answered = false;
  DecodeResult answer = {};
  // After a decoder that could not be started, or ended without an answer
  // (missing, broken, or a picture that crashed it), no other is started
  // before this time: a show without a working decoder does not start one
  // every frame.
  int64_t restUntilUs = 0;
  std::vector<MipmapLevel> mipmaps;
  bool mipmapsMade = false;
} ahead;

void readyAhead() {
  ahead.screen = ReadScreen();
  ahead.size = ShownSizeOn(ahead.screen.height);
  ReadyPool(ahead.pool, 1, 0, 0);
  ahead.decoder = ahead.pool.count == 1 ? &ahead.pool.decoders[0] : nullptr;
  ahead.ready = true;
}

// Opens the picture and hands it to a new decoder; false where it is no
// picture to decode or no decoder could be started.
bool start(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size <= 0 || ahead.decoder == nullptr) {
    if (fd >= 0)
      close(fd);
    return false;
  }
  int32_t kind = PictureKindOf(ByteSource{fd, nullptr, uint64_t(st.st_size)});
  int64_t budget = kind == kNotAPicture ? -1
                                        : PictureBudgetUs(fd, st.st_size, kind,
                                                          ahead.size.maxSide);
  uint32_t readers = kind == kNotAPicture ? 0 : kPictureKinds[kind].readers;
  unsigned readyKinds = readers & kReadiedWhenNeeded ? 1u << kind : 0;
  DecoderJob job = {&fd, 1, ahead.screen.profile, ahead.screen.profileSize,
                    true};
  bool started = budget > 0 && StartDecoder(*ahead.decoder, job, readyKinds);
  close(fd); // the decoder has its own
  DecodeCommand c = {0, 0, kind, readers, st.st_size, budget, ahead.size};
  return started &&
         SendPicture(*ahead.decoder, c, kWallFactor * budget + kWallSlackUs);
}

// The texture of the picture in the decoder's slot, made as the load makes
// its own (guard.cpp, and the scene's filters).
unsigned textureOf(const unsigned char *slot, const DecodeResult &r,
                   const std::vector<MipmapLevel> &mipmaps) {
  unsigned name = MakeTexture(slot, r.width, r.height, r.channels, mipmaps);
  if (name != 0) {
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, MinifyingFilter());
  }
  return name;
}

int64_t nowUs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// How long the show rests after a decoder failed it.
constexpr int64_t kRestUs = 1000 * 1000;

} // namespace

bool DecodeAhead(const std::string &path, int picture) {
  if (DecodingAhead() || nowUs() < ahead.restUntilUs)
    return false;
  if (!ahead.ready)
    readyAhead();
  ahead.picture = picture;
  ahead.failed = !start(path);
  ahead.answered = ahead.mipmapsMade = false;
  if (ahead.failed)
    ahead.restUntilUs = nowUs() + kRestUs;
  return true;
}

bool DecodingAhead() {
  return ahead.picture >= 0;
}

bool DecodedAhead(int &picture, unsigned &texture) {
  ReapDecodersLetGo();
  if (!DecodingAhead())
    return false;
  DecoderProcess &d = *ahead.decoder;
  texture = 0;
  const unsigned char *slot = d.slots + size_t(d.slot) * kMaxPictureBytes;
  DecodeResult &r = ahead.answer;
  if (!ahead.failed && !ahead.answered) {
    pollfd answer = {d.results, POLLIN, 0};
    bool answered = poll(&answer, 1, 0) > 0;
    if (!answered && !PastDeadline(d))
      return false;
    r = {};
    bool believed =
        answered && ReadAnswer(d, r) && AcceptAnswer(d, r, ahead.size.maxSide);
    // Its work is done: it ends as its pipes close; one that failed, was
    // silent or lied is killed. Its slot stays as it left it.
    LetDecoderGo(d, !believed);
    if (!believed)
      ahead.restUntilUs = nowUs() + kRestUs;
    ahead.failed = !believed || r.reader == kNoReader;
    ahead.answered = true;
    if (!ahead.failed)
      return false;
  } else if (!ahead.failed && !ahead.mipmapsMade) {
    ahead.mipmaps = MipmapsFor(slot, r.width, r.height, r.channels);
    ahead.mipmapsMade = true;
    return false;
  } else if (!ahead.failed) {
    texture = textureOf(slot, r, ahead.mipmaps);
    ahead.mipmaps.clear();
  }
  picture = ahead.picture;
  ahead.picture = -1;
  return true;
}

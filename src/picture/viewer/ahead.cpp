#include "picture/viewer/ahead.h"

#include <GL/gl.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "picture/decoder/readers.h"
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
  unsigned readyKinds = readers & ReadiedWhenNeeded() ? 1u << kind : 0;
  DecoderSetup setup = {};
  setup.fds = {-1, -1, &fd, 1};
  setup.screenProfile = ahead.screen.profile;
  setup.screenProfileSize = ahead.screen.profileSize;
  setup.behind = true;
  bool started = budget > 0 && StartDecoder(*ahead.decoder, setup, readyKinds);
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

} // namespace

bool DecodeAhead(const std::string &path, int picture) {
  if (DecodingAhead())
    return false;
  if (!ahead.ready)
    readyAhead();
  ahead.picture = picture;
  ahead.failed = !start(path);
  ahead.answered = ahead.mipmapsMade = false;
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

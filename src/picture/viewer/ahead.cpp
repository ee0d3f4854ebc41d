#include "picture/viewer/ahead.h"

#include <GL/gl.h>
#include <atomic>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/budget.h"
#include "picture/viewer/decoder_processes.h"
#include "picture/viewer/screen.h"
#include "picture/viewer/textures.h"

namespace {

// A picture opened and looked at (its kind, its budget): by a thread of its
// own, never in a frame, as a library on a slow disk or a network mount
// that has gone away may keep an open or a read waiting for long.
struct Opened {
  int fd = -1;
  int64_t bytes = 0, budgetUs = -1;
  int32_t kind = kNotAPicture;
};

// What every picture is decoded with, read once, at the first picture.
struct Ahead {
  bool ready = false;
  ScreenFacts screen;
  ShownSize size = {0, 0};
  DecoderPool pool; // one decoder, its two slots kept for the whole show
  DecoderProcess *decoder = nullptr;
  int picture = -1;     // the show's number of the one being decoded
  bool opening = false; // its file is being opened (Opener below)
  bool failed = false;  // it failed before a decoder was started
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
  // The picture being decoded, kept open for as long as it may turn out
  // to be an animation, to be played from.
  Opened opened;
} ahead;

void readyAhead() {
  ahead.screen = ReadScreen();
  ahead.size = ShownSizeOn(ahead.screen.height);
  ReadyPool(ahead.pool, 1, 0, 0);
  ahead.decoder = ahead.pool.count == 1 ? &ahead.pool.decoders[0] : nullptr;
  ahead.ready = true;
}

struct Opener {
  std::mutex lock;
  std::condition_variable asked;
  std::string path; // to be opened; empty: nothing asked
  std::atomic<bool> done{false};
  Opened opened;
};
// Never destroyed: its thread waits on it until the process ends (a
// condition variable destroyed at exit with a thread waiting would hang
// the exit).
Opener &opener = *new Opener;

Opened openPicture(const std::string &path, int maxSide) {
  Opened o;
  o.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  if (o.fd < 0 || fstat(o.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size <= 0) {
    if (o.fd >= 0)
      close(o.fd);
    o.fd = -1;
    return o;
  }
  o.bytes = st.st_size;
  o.kind = PictureKindOf(ByteSource{o.fd, nullptr, uint64_t(o.bytes)});
  if (o.kind != kNotAPicture)
    o.budgetUs = PictureBudgetUs(o.fd, o.bytes, o.kind, maxSide);
  return o;
}

// The opener's thread, for the whole run: one picture at a time.
void openPictures(int maxSide) {
  for (;;) {
    std::string path;
    {
      std::unique_lock<std::mutex> held(opener.lock);
      opener.asked.wait(held, [] { return !opener.path.empty(); });
      path.swap(opener.path);
    }
    opener.opened = openPicture(path, maxSide);
    opener.done.store(true, std::memory_order_release);
  }
}

void askToOpen(const std::string &path) {
  static bool running = false;
  if (!running) {
    std::thread(openPictures, ahead.size.maxSide).detach();
    running = true;
  }
  opener.done.store(false);
  std::lock_guard<std::mutex> held(opener.lock);
  opener.path = path.empty() ? "/" : path; // "/" is no picture either
  opener.asked.notify_one();
}

// Hands the picture opened to a new decoder; false where it is no picture
// to decode or no decoder could be started.
bool start(Opened o) {
  ahead.opened = {};
  if (o.fd < 0)
    return false;
  bool started = false;
  DecodeCommand c = {};
  if (o.budgetUs > 0 && ahead.decoder != nullptr) {
    uint32_t readers = kPictureKinds[o.kind].readers;
    unsigned readyKinds = readers & kReadiedWhenNeeded ? 1u << o.kind : 0;
    DecoderJob job = {&o.fd, 1, ahead.screen.profile, ahead.screen.profileSize,
                      true};
    started = StartDecoder(*ahead.decoder, job, readyKinds);
    c = {0, 0, o.kind, readers, o.bytes, o.budgetUs, ahead.size, 0};
  }
  ahead.opened = o; // the decoder has its own; this one may play it
  return started && SendPicture(*ahead.decoder, c,
                                kWallFactor * o.budgetUs + kWallSlackUs);
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
  ahead.opening = true;
  ahead.failed = ahead.answered = ahead.mipmapsMade = false;
  askToOpen(path);
  return true;
}

bool DecodingAhead() {
  return ahead.picture >= 0;
}

// The picture decoded, to be played where it is an animation; else its
// descriptor is closed.
AnimationSource animationOf(const DecodeResult &r, bool made) {
  Opened &o = ahead.opened;
  AnimationSource a = {-1,
                       o.bytes,
                       o.kind,
                       o.budgetUs,
                       ahead.screen.profile,
                       ahead.screen.profileSize};
  if (made && r.moving != 0)
    a.fd = o.fd;
  else if (o.fd >= 0)
    close(o.fd);
  o = {};
  return a;
}

bool DecodedAhead(int &picture, unsigned &texture, AnimationSource &moving) {
  ReapDecodersLetGo();
  if (!DecodingAhead())
    return false;
  texture = 0;
  if (ahead.opening) { // its file is being opened: its decoder starts after
    if (!opener.done.load(std::memory_order_acquire))
      return false;
    ahead.opening = false;
    ahead.failed = !start(opener.opened);
    if (ahead.failed)
      ahead.restUntilUs = nowUs() + kRestUs;
    if (!ahead.failed)
      return false;
  }
  DecoderProcess &d = *ahead.decoder;
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
  moving = animationOf(r, !ahead.failed && texture != 0);
  picture = ahead.picture;
  ahead.picture = -1;
  return true;
}

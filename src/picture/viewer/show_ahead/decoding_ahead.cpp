#include "picture/viewer/show_ahead/decoding_ahead.h"

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
#include "picture/viewer/decoders/budget.h"
#include "picture/viewer/decoders/clock.h"
#include "picture/viewer/decoders/decoder_processes.h"
#include "picture/viewer/decoders/decoding.h"
#include "picture/viewer/decoders/screen.h"
#include "picture/viewer/textures/textures.h"

namespace {

// What every picture is decoded with, read once, at the first picture.
struct Ahead {
  bool started = false; // its decoder's pool made, the screen read
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
  // to be an animation, to be played from; and a Live Photo's motion.
  OpenedPicture opened, motion;
} ahead;

void startAhead() {
  ahead.screen = ReadScreen();
  ahead.size = ShownSizeOn(ahead.screen.height);
  MakePool(ahead.pool, 1, 0, 0);
  ahead.decoder = ahead.pool.count == 1 ? &ahead.pool.decoders[0] : nullptr;
  ahead.started = true;
}

// A picture is opened and looked at (its kind, its budget) by a thread of
// its own, never in a frame, as a library on a slow disk or a network mount
// that has gone away may keep an open or a read waiting for long.
struct Opener {
  std::mutex lock;
  std::condition_variable asked;
  std::string path;   // to be opened; empty: nothing asked
  std::string motion; // and a Live Photo's motion, or empty
  std::atomic<bool> done{false};
  OpenedPicture opened, openedMotion;
};
// Never destroyed: its thread waits on it until the process ends (a
// condition variable destroyed at exit with a thread waiting would hang
// the exit).
Opener &opener = *new Opener;

// The opener's thread, for the whole run: one picture at a time.
void openPictures(int maxSide) {
  for (;;) {
    std::string path, motion;
    {
      std::unique_lock<std::mutex> held(opener.lock);
      opener.asked.wait(held, [] { return !opener.path.empty(); });
      path.swap(opener.path);
      motion.swap(opener.motion);
    }
    opener.opened = OpenPicture(path.c_str(), maxSide);
    opener.openedMotion = motion.empty()
                              ? OpenedPicture{}
                              : OpenMotion(motion.c_str(), opener.opened);
    opener.done.store(true, std::memory_order_release);
  }
}

void askToOpen(const std::string &path, const std::string &motion) {
  static bool running = false;
  if (!running) {
    std::thread(openPictures, ahead.size.maxSide).detach();
    running = true;
  }
  opener.done.store(false);
  std::lock_guard<std::mutex> held(opener.lock);
  opener.path = path.empty() ? "/" : path; // "/" is no picture either
  opener.motion = motion;
  opener.asked.notify_one();
}

// Hands the picture opened to a new decoder; false where it is no picture
// to decode or no decoder could be started.
bool start(OpenedPicture o, OpenedPicture motion) {
  ahead.opened = {};
  ahead.motion = motion;
  if (o.fd < 0)
    return false;
  bool started = false;
  uint32_t readers = 0;
  if (o.budgetUs > 0 && ahead.decoder != nullptr) {
    readers = kPictureKinds[o.kind].readers;
    unsigned readyKinds = readers & kReadiedWhenNeeded ? 1u << o.kind : 0;
    DecoderJob job = {&o.fd, 1, ahead.screen.profile, ahead.screen.profileSize,
                      true};
    started = StartDecoder(*ahead.decoder, job, readyKinds);
  }
  ahead.opened = o; // the decoder has its own; this one may play it
  return started && SendStill(*ahead.decoder, 0, o, readers, ahead.size);
}

// How long the show rests after a decoder failed it.
constexpr int64_t kRestUs = 1000 * 1000;

} // namespace

bool StartDecodingAhead(const std::string &path, const std::string &motion,
                        int picture) {
  if (IsDecodingAhead() || NowUs() < ahead.restUntilUs)
    return false;
  if (!ahead.started)
    startAhead();
  ahead.picture = picture;
  ahead.opening = true;
  ahead.failed = ahead.answered = ahead.mipmapsMade = false;
  askToOpen(path, motion);
  return true;
}

bool IsDecodingAhead() {
  return ahead.picture >= 0;
}

// The picture decoded, to be played where it is an animation, or its
// motion where it is a Live Photo; else their descriptors are closed.
AnimationSource animationOf(const DecodeResult &r, bool made) {
  OpenedPicture &o = ahead.opened, &motion = ahead.motion;
  bool live = made && r.moving == 0 && motion.fd >= 0;
  const OpenedPicture &played = live ? motion : o;
  AnimationSource a = {-1,
                       played.bytes,
                       played.kind,
                       played.budgetUs,
                       ahead.screen.profile,
                       ahead.screen.profileSize,
                       {}};
  if (live) {
    a.fd = motion.fd;
    a.photo = o;
  } else if (made && r.moving != 0) {
    a.fd = o.fd;
    ClosePicture(motion);
  } else {
    ClosePicture(o);
    ClosePicture(motion);
  }
  o = {};
  motion = {};
  return a;
}

bool TakeDecodedAhead(int &picture, unsigned &texture,
                      AnimationSource &moving) {
  ReapDecodersLetGo();
  if (!IsDecodingAhead())
    return false;
  texture = 0;
  if (ahead.opening) { // its file is being opened: its decoder starts after
    if (!opener.done.load(std::memory_order_acquire))
      return false;
    ahead.opening = false;
    ahead.failed = !start(opener.opened, opener.openedMotion);
    if (ahead.failed)
      ahead.restUntilUs = NowUs() + kRestUs;
    if (!ahead.failed)
      return false;
  }
  DecoderProcess &d = *ahead.decoder;
  const unsigned char *slot = d.slots + size_t(d.slot) * kMaxPictureBytes;
  DecodeResult &r = ahead.answer;
  if (!ahead.failed && !ahead.answered) {
    Answer answer = TakeAnswer(d, ahead.size.maxSide, r);
    if (answer == Answer::kNotYet)
      return false;
    bool believed = answer == Answer::kTaken;
    // Its work is done: it ends as its pipes close; one that failed, was
    // silent or lied is killed. Its slot stays as it left it.
    LetDecoderGo(d, !believed);
    if (!believed)
      ahead.restUntilUs = NowUs() + kRestUs;
    ahead.failed = !believed || r.reader == kNoReader;
    ahead.answered = true;
    if (!ahead.failed)
      return false;
  } else if (!ahead.failed && !ahead.mipmapsMade) {
    ahead.mipmaps = MipmapsFor(slot, r.width, r.height, r.channels);
    ahead.mipmapsMade = true;
    return false;
  } else if (!ahead.failed) {
    texture = MakeTexture(slot, r.width, r.height, r.channels, ahead.mipmaps);
    ahead.mipmaps.clear();
  }
  moving = animationOf(r, !ahead.failed && texture != 0);
  picture = ahead.picture;
  ahead.picture = -1;
  return true;
}

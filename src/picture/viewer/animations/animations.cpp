#include "picture/viewer/animations/animations.h"

#include <GL/gl.h>
#include <algorithm>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <unistd.h>
#include <vector>

#include "cube_view.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"
#include "picture/protocol.h"
#include "picture/viewer/decoders/clock.h"
#include "picture/viewer/decoders/decoder_processes.h"
#include "picture/viewer/decoders/decoding.h"
#include "picture/viewer/textures/textures.h"

namespace {

struct Animation {
  DecoderProcess d;
  AnimationSource source;
  ShownSize size;
  unsigned names[kMaxPictures];
  int count = 0;
  int64_t shownAtUs = 0;     // when the frame on show went up; 0: not yet
  int64_t shownForUs = 0;    // and how long it stays
  int64_t hiddenSinceUs = 0; // when its faces all turned away; 0: in view
  // A clip keeps its own timestamps: each frame is shown at its time from
  // when the clip started (shifted by the time its faces were turned away),
  // and the decoder drops what is late.
  bool clip = false, playedOnce = false;
  int64_t startedUs = 0;
  // A Motion Photo's clip, or a Live Photo's motion, plays once, its
  // decoder then gone and the face resting on the photo (its last frame),
  // and again once all its faces have been turned away and one comes round.
  bool motionPhoto = false, resting = false, awayWhileResting = false;
  bool firstFrameShown = false;
  bool asked = false;   // a frame asked for, its answer not yet taken
  bool waiting = false; // a frame in its slot, not shown yet
  int waitingSlot = 0;
  DecodeResult frame = {};
  std::vector<unsigned char> profile; // the screen's, for its decoder
};

Animation playing[kMaxAnimations];
int playingCount = 0;

// How large frames come: see kFramePercentOfWindowHeight.
ShownSize frameSize() {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  int window = viewport[3] > 0 ? viewport[3] : 360;
  return {LargestTexture(),
          std::max(1, window * kFramePercentOfWindowHeight / 100)};
}

// Ends the animation at `i`, killing its decoder where it is at work; its
// textures keep the frame they show.
void end(int i) {
  Animation &a = playing[i];
  LetDecoderGo(a.d, a.asked);
  FreeSlots(a.d);
  close(a.source.fd);
  ClosePicture(a.source.photo);
  playing[i] = playing[--playingCount];
  playing[playingCount] = Animation{};
}

bool ask(Animation &a) {
  const int64_t budget = a.source.frameBudgetUs;
  const OpenedPicture &photo = a.source.photo;
  uint32_t readers = kPictureKinds[a.source.kind].readers;
  if (photo.fd >= 0)
    readers |= kPictureKinds[photo.kind].readers;
  DecodeCommand c = {0,
                     0,
                     a.source.kind,
                     readers,
                     a.source.bytes,
                     budget,
                     a.size,
                     1,
                     a.clip ? NowUs() - a.startedUs : 0,
                     photo.fd >= 0 ? 1 : kNoPhoto,
                     photo.kind,
                     photo.bytes};
  a.asked = SendPicture(a.d, c, kWallFactor * budget + kWallSlackUs);
  return a.asked;
}

// Takes the answer to the frame asked for, where it has come; false where
// the animation is over: played out, or its decoder failed, was silent or
// lied.
bool take(Animation &a) {
  DecodeResult r = {};
  Answer answer = TakeAnswer(a.d, a.size.maxSide, r);
  if (answer != Answer::kTaken)
    return answer == Answer::kNotYet;
  a.asked = false;
  if (r.reader == kNoReader && a.motionPhoto && a.firstFrameShown) {
    LetDecoderGo(a.d, false);
    FreeSlots(a.d);
    a.resting = true;
    a.awayWhileResting = false;
    return true;
  }
  if (r.reader == kNoReader)
    return false;
  a.frame = r;
  a.waiting = true;
  a.waitingSlot = a.d.slot;
  return true;
}

// Shows the frame waiting on every texture of the animation.
void show(Animation &a, int64_t now) {
  const unsigned char *pixels =
      a.d.slots + size_t(a.waitingSlot) * kMaxPictureBytes;
  for (int k = 0; k < a.count; k++)
    ReplaceTextureImage(a.names[k], pixels, a.frame.width, a.frame.height,
                        a.frame.channels);
  // The first frame replaces the still one, which has been on show since
  // the clock started; a later one goes up when due, or now if it is late.
  int64_t due = a.shownAtUs + a.shownForUs;
  if (a.firstFrameShown)
    a.shownAtUs = now - due > kLateFrameUs ? now : due;
  a.firstFrameShown = true;
  a.playedOnce = a.playedOnce || a.frame.play > 0;
  int ms = a.frame.delayMs <= kShortestDelayMs ? kShortFrameShownMs
                                               : a.frame.delayMs;
  a.shownForUs = int64_t(ms) * 1000;
  a.waiting = false;
}

// Starts its decoder and asks for the first frame; false where it can't.
bool start(Animation &a) {
  // A clip's decoder yields to the cube: behind, it drops frames. A Live
  // Photo's has its photo as well.
  const OpenedPicture &photo = a.source.photo;
  int fds[2] = {a.source.fd, photo.fd};
  DecoderJob job = {fds, photo.fd >= 0 ? 2 : 1, a.profile.data(),
                    a.profile.size(), a.clip};
  unsigned kinds = 1u << a.source.kind;
  if (photo.fd >= 0)
    kinds |= 1u << photo.kind;
  return MakeSlots(a.d) && StartDecoder(a.d, job, kinds) && ask(a);
}

// Whether a face showing the animation is turned towards the eye.
bool inView(const Animation &a, const unsigned texture[6],
            const double towards[6]) {
  for (int f = 0; f < 6; f++)
    if (towards[f] > kFaceInView &&
        std::find(a.names, a.names + a.count, texture[f]) != a.names + a.count)
      return true;
  return false;
}

// A Motion Photo resting on its photo: from the start again, as a face
// comes round after all were turned away.
void playAgain(Animation &a, int64_t now) {
  a.resting = a.awayWhileResting = false;
  a.firstFrameShown = a.waiting = false;
  a.startedUs = a.shownAtUs = now;
  a.shownForUs = 0;
  a.frame = {};
}

// One animation's turn in a frame; false where it is over. While all its
// faces are turned away it stands still: nothing decoded, its clock
// stopped, to go on where it was as a face comes round.
bool advance(Animation &a, int64_t now, bool seen) {
  if (a.resting) {
    a.awayWhileResting = a.awayWhileResting || !seen;
    if (!seen || !a.awayWhileResting)
      return true;
    playAgain(a, now);
  }
  if (a.shownAtUs == 0) {
    // The first frame drawn with its still picture: its clock starts, and
    // its decoder after that frame, which it would only hold up.
    a.shownAtUs = now;
    a.startedUs = now;
    return true;
  }
  if (!seen) {
    a.hiddenSinceUs = a.hiddenSinceUs != 0 ? a.hiddenSinceUs : now;
    return true;
  }
  if (a.hiddenSinceUs != 0) {
    a.shownAtUs += now - a.hiddenSinceUs;
    a.startedUs += now - a.hiddenSinceUs;
    a.hiddenSinceUs = 0;
  }
  if (a.d.pid < 0 && !start(a))
    return false;
  if (a.asked && !a.waiting && !take(a))
    return false;
  if (a.resting)
    return true;
  bool due = a.clip ? now >= a.startedUs + a.frame.atUs
                    : now >= a.shownAtUs + a.shownForUs;
  if (a.waiting && (!a.firstFrameShown || due))
    show(a, now);
  return a.asked || ask(a);
}

} // namespace

bool PlayAnimation(const AnimationSource &source, const unsigned names[],
                   int count) {
  if (playingCount == kMaxAnimations || count <= 0 || count > kMaxPictures) {
    close(source.fd);
    OpenedPicture photo = source.photo;
    ClosePicture(photo);
    return false;
  }
  // A decoder gone makes writing to it fail, rather than end the viewer.
  std::signal(SIGPIPE, SIG_IGN);
  Animation &a = playing[playingCount++];
  a = Animation{};
  a.source = source;
  a.motionPhoto = MayHoldAClip(source.kind) || source.photo.fd >= 0;
  a.clip = IsClip(source.kind) || a.motionPhoto;
  // Opening a clip inside a photo takes more than the photo's own frame
  // budget may allow, and the last frame is the photo, decoded again.
  if (a.motionPhoto)
    a.source.frameBudgetUs = std::max(
        {a.source.frameBudgetUs, kClipBudgetUs, source.photo.budgetUs});
  if (source.screenProfile != nullptr)
    a.profile.assign(source.screenProfile,
                     source.screenProfile + source.screenProfileSize);
  a.size = frameSize();
  a.count = count;
  std::copy(names, names + count, a.names);
  return true;
}

void StopAnimationOn(unsigned name) {
  for (int i = 0; i < playingCount; i++) {
    Animation &a = playing[i];
    unsigned *last = std::remove(a.names, a.names + a.count, name);
    a.count = int(last - a.names);
    if (a.count == 0)
      end(i--);
  }
}

void StopAllAnimations() {
  while (playingCount > 0)
    end(playingCount - 1);
  ReapDecodersLetGo();
}

void AdvanceAnimations(const unsigned texture[6], float xRot, float yRot,
                       float zRot) {
  if (playingCount == 0)
    return;
  ReapDecodersLetGo();
  int64_t now = NowUs();
  double towards[6];
  for (int f = 0; f < 6; f++)
    towards[f] = TowardsEye(f, xRot, yRot, zRot);
  for (int i = 0; i < playingCount; i++)
    if (!advance(playing[i], now, inView(playing[i], texture, towards)))
      end(i--);
}

bool ClipInItsFirstPlay(unsigned name) {
  for (int i = 0; i < playingCount; i++) {
    const Animation &a = playing[i];
    if (a.clip && !a.playedOnce &&
        std::find(a.names, a.names + a.count, name) != a.names + a.count)
      return true;
  }
  return false;
}

int AnimationsPlaying() {
  return playingCount;
}

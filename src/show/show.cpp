#include "show/show.h"

#include <GL/gl.h>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <unistd.h>
#include <vector>

#include "cube_view.h"
#include "picture/viewer/decoders/clock.h"
#include "picture/viewer/show_ahead/decoding_ahead.h"
#include "show/show_list.h"
#include "show/show_order.h"

namespace {

// Settings of the show, in one place.
// A face in view: cube_view.h.
constexpr double kInView = kFaceInView;
// Turned away for sure: a little further round, so that rounding in the
// GL's own arithmetic never draws a face as it changes.
constexpr double kTurnedAway = kInView - 0.01;
// Seen: turned to the eye well enough to be looked at, within 60 degrees
// of square-on (the top face at the start tilt, 40 degrees, is).
constexpr double kSeen = 0.5;
// Frames of a whole turn of the spin: a face not in view for that long is
// out of it (the bottom face at the start tilt), and its picture can't be
// waited for to come round.
constexpr long kTurn = 721;
// Pictures decoded ahead of their turn (their textures made, waiting for a
// face).
constexpr size_t kAhead = 2;

struct Face {
  int picture;         // the list's number of the picture it shows
  double seenAt = -1;  // when it was first seen with it, or -1
  long lastInView = 0; // the last frame it was in view
};

struct DecodedAhead {
  int picture;
  unsigned texture;
  AnimationSource moving; // an animation's, to play on its face; fd -1: none
};

// A texture decoded ahead that won't be shown after all.
void forget(DecodedAhead &r) {
  glDeleteTextures(1, &r.texture);
  if (r.moving.fd >= 0)
    close(r.moving.fd);
  ClosePicture(r.moving.photo);
}

struct Show {
  bool started = false, on = false;
  ShowList list;
  Face faces[6];
  ShowOrder order;
  int pending = -1; // the face given a picture not seen yet, or -1
  std::vector<DecodedAhead> decodedAhead;
  long frame = 0;
  std::string news; // what came on the news pipe, a record cut short
  std::mt19937_64 random;
} show;

double now() {
  return double(NowUs()) * 1e-6;
}

// Tells the launcher, never waiting: a line on the seen pipe.
void tell(bool round, uint64_t n) {
  if (show.list.seen < 0)
    return;
  std::string line = SeenRecordBytes({round, n});
  if (write(show.list.seen, line.data(), line.size()) < 0 && errno != EAGAIN)
    show.list.seen = -1;
}

// Reads the list, the frame after the first: faces 0 to 5 show its first
// six pictures, the launcher's b1.jpg ... b6.jpg, and the first round goes
// on from them. More pictures may come on the news pipe.
void start() {
  show.started = true;
  if (!ReadShowList(kShowListFile, show.list) ||
      (show.list.pictures.size() <= 6 && show.list.news < 0))
    return;
  show.on = true;
  for (int f = 0; f < 6; f++)
    show.faces[f].picture = f;
  show.random.seed(std::random_device{}());
  StartOrder(show.order, show.list.pictures, show.list.shuffled, show.list.seed,
             show.list.after);
  for (int fd : {show.list.news, show.list.seen})
    if (fd >= 0)
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  // A launcher gone makes telling it fail, rather than end the viewer.
  if (show.list.seen >= 0)
    std::signal(SIGPIPE, SIG_IGN);
}

// Takes the pictures that came on the news pipe (a pipe: reading it never
// waits for a filesystem). A pipe that says something else is given up.
void takeNews() {
  // A few hundred pictures a frame at most: a frame stays short while a
  // large library joins.
  char bytes[16384];
  ssize_t n =
      show.list.news < 0 ? 0 : read(show.list.news, bytes, sizeof bytes);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    show.list.news = -1;
    return;
  }
  if (n < 0)
    return;
  show.news.append(bytes, size_t(n));
  std::vector<NewsRecord> records;
  bool understood = TakeNews(show.news, records);
  for (NewsRecord &r : records) {
    int picture = int(show.list.pictures.size());
    if (r.after >= picture)
      r.after = picture - 1;
    show.list.pictures.push_back(r.path);
    show.list.motions.push_back(r.motion);
    AddToOrder(show.order, picture, r.path, r.after, r.found);
  }
  if (!understood)
    show.list.news = -1;
}

int target() {
  return OrderTarget(show.order);
}

void nextPicture() {
  int seen = target();
  OrderPassed(show.order, show.list.pictures, show.random());
  if (seen >= 0)
    tell(false, uint64_t(seen));
  if (show.order.newRound && show.order.shuffled)
    tell(true, show.order.seed);
  show.order.newRound = false;
}

bool inTheSpin(int f) {
  return show.frame - show.faces[f].lastInView <= kTurn;
}

// Whether picture p is on a face that will come round to be seen.
bool comingRound(int p) {
  for (int f = 0; f < 6; f++)
    if (show.faces[f].picture == p && inTheSpin(f))
      return true;
  return false;
}

DecodedAhead *decodedAheadFor(int p) {
  for (DecodedAhead &r : show.decodedAhead)
    if (r.picture == p)
      return &r;
  return nullptr;
}

// The pictures to come, in order, that will need a face of their own.
std::vector<int> needed(size_t count) {
  return OrderAhead(show.order, count, comingRound);
}

// Decodes ahead the next pictures that will need a face, and takes what
// has been decoded; textures no longer wanted soon are deleted.
void decodeAhead() {
  int picture;
  unsigned texture;
  AnimationSource moving;
  // A frame that made a texture starts no decoder as well: each costs a
  // few milliseconds.
  bool made = TakeDecodedAhead(picture, texture, moving);
  if (made && texture != 0)
    show.decodedAhead.push_back({picture, texture, moving});
  else if (made)
    show.order.failed[size_t(picture)] = true; // skipped from now on
  std::vector<int> wanted = needed(kAhead);
  for (size_t i = 0; i < show.decodedAhead.size();) {
    DecodedAhead &r = show.decodedAhead[i];
    if (std::find(wanted.begin(), wanted.end(), r.picture) != wanted.end()) {
      i++;
      continue;
    }
    forget(r);
    show.decodedAhead.erase(show.decodedAhead.begin() + long(i));
  }
  for (int p : wanted)
    if (decodedAheadFor(p) == nullptr) {
      if (!IsDecodingAhead() && !made)
        StartDecodingAhead(show.list.pictures[size_t(p)],
                           show.list.motions[size_t(p)], p);
      break;
    }
}

// Whether a face's picture has been on show long enough: the show's
// seconds since it was seen, and a clip until it has played through once,
// at most the show's longest time for a clip.
bool shownLongEnough(const Face &face, unsigned texture, double t) {
  double shown = t - face.seenAt;
  return face.seenAt >= 0 && shown >= show.list.seconds &&
         (shown >= show.list.longestClip || !ClipInItsFirstPlay(texture));
}

// The face that takes the next picture: turned away, its picture on show
// long enough, and of those the one turned away longest (it comes round
// soonest); -1 for none.
int faceToChange(const double towards[6], const unsigned texture[6], double t) {
  int chosen = -1;
  for (int f = 0; f < 6; f++) {
    const Face &face = show.faces[f];
    if (towards[f] < kTurnedAway && shownLongEnough(face, texture[f], t) &&
        inTheSpin(f) &&
        (chosen < 0 || face.lastInView < show.faces[chosen].lastInView))
      chosen = f;
  }
  return chosen;
}

void place(int f, DecodedAhead r, unsigned int texture[6]) {
  bool shared = false;
  for (int g = 0; g < 6; g++)
    shared = shared || (g != f && texture[g] == texture[f]);
  if (texture[f] != 0 && !shared) {
    StopAnimationOn(texture[f]); // it leaves its face: its decoder ends
    glDeleteTextures(1, &texture[f]);
  }
  texture[f] = r.texture;
  if (r.moving.fd >= 0)
    PlayAnimation(r.moving, &r.texture, 1);
  show.faces[f].picture = r.picture;
  show.faces[f].seenAt = -1;
  show.pending = f;
}

// The pictures in order as they are seen (those that can't be shown are
// passed over by the order).
void passThoseSeen(const double towards[6]) {
  for (size_t steps = 0; steps < show.order.listed.size(); steps++) {
    bool seen = false;
    for (int f = 0; f < 6; f++)
      seen = seen || (show.faces[f].picture == target() && towards[f] >= kSeen);
    if (!seen || target() < 0)
      break;
    nextPicture();
  }
}

} // namespace

void ShowNextPictures(unsigned int texture[6], float xRot, float yRot,
                      float zRot) {
  if (!show.started) {
    // The first frame is drawn before anything of the show is done.
    if (show.frame++ > 0)
      start();
    return;
  }
  if (!show.on)
    return;
  show.frame++;
  // A face given a picture that has since gone out of the spin (the keys
  // tipped it away) is not waited for: its picture is given again.
  if (show.pending >= 0 && !inTheSpin(show.pending))
    show.pending = -1;
  double t = now(), towards[6];
  for (int f = 0; f < 6; f++) {
    towards[f] = TowardsEye(f, xRot, yRot, zRot);
    Face &face = show.faces[f];
    if (towards[f] > kInView - 0.01)
      face.lastInView = show.frame;
    if (towards[f] >= kSeen && face.seenAt < 0) {
      face.seenAt = t;
      if (show.pending == f)
        show.pending = -1;
    }
  }
  takeNews();
  passThoseSeen(towards);
  decodeAhead();
  // The next picture to be seen goes on a face turned away, unless it is on
  // one that will come round, or the last one given is not seen yet.
  if (show.pending >= 0 || target() < 0 || comingRound(target()))
    return;
  DecodedAhead *r = decodedAheadFor(target());
  int f = r != nullptr ? faceToChange(towards, texture, t) : -1;
  if (f < 0)
    return;
  DecodedAhead taken = *r;
  show.decodedAhead.erase(show.decodedAhead.begin() +
                          (r - show.decodedAhead.data()));
  place(f, taken, texture);
}

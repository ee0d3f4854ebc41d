#include "launcher/running_show.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <random>
#include <unistd.h>

#include "launcher/choose_pictures.h"
#include "show/show_list.h"

namespace {

double clockSeconds(clockid_t clock) {
  timespec ts;
  clock_gettime(clock, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Sends pictures to the viewer, each right after the one before it in the
// library's order. False where the viewer no longer reads.
bool send(RunningShow &show, std::vector<FoundPicture> &found, bool isNew) {
  std::string bytes;
  for (FoundPicture &p : found) {
    int number = int(show.pictures.size());
    auto at = show.byPlace.lower_bound(p.key);
    int after = at == show.byPlace.begin() ? -1 : std::prev(at)->second;
    show.watch.known.insert(p.path); // as the walk and the watch name it
    p.path = AbsolutePath(p.path);
    bytes += NewsRecordBytes({!isNew, after, p.path,
                              p.motion.empty() ? "" : AbsolutePath(p.motion)});
    show.pictures.push_back(std::move(p.path));
    show.byPlace.emplace(std::move(p.key), number);
  }
  found.clear();
  for (size_t at = 0; at < bytes.size();) {
    ssize_t n = write(show.news, bytes.data() + at, bytes.size() - at);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    at += size_t(n);
  }
  return true;
}

// Takes the viewer's lines: the place moves on with each picture seen.
// False once the viewer has closed the pipe.
bool hear(RunningShow &show, std::string &heard) {
  char bytes[4096];
  ssize_t n = read(show.seen, bytes, sizeof bytes);
  if (n < 0)
    return errno == EINTR || errno == EAGAIN;
  if (n == 0)
    return false;
  heard.append(bytes, size_t(n));
  bool moved = false;
  std::vector<SeenRecord> records;
  TakeSeen(heard, records);
  for (const SeenRecord &r : records) {
    if (!r.round && r.value < show.pictures.size()) {
      show.place.last = show.pictures[size_t(r.value)];
      moved = true;
    } else if (r.round) {
      show.place.seed = r.value;
    }
  }
  static bool said = false;
  if (moved && !WritePlace(show.identity, show.place) && !said) {
    std::fputs("vorlix-open: can't keep the show's place; it will start "
               "from the beginning next time\n",
               stderr);
    said = true;
  }
  return true;
}

} // namespace

Walking PlanTheWalk(RunningShow &show, Request &r) {
  ShowList &list = r.show;
  const std::vector<std::string> &paths = r.paths;
  bool subfolders = r.subfolders, firstSix = r.firstSix,
       fromStart = r.fromStart;
  Walking how;
  how.all = !firstSix;
  how.subfolders = subfolders;
  how.clips = r.clips;
  std::vector<std::string> roots;
  for (std::string p : paths) {
    while (p.size() > 1 && p.back() == '/')
      p.pop_back();
    roots.push_back(AbsolutePath(p));
  }
  show.shuffled = list.shuffled;
  show.identity = PlaceIdentity(roots, list.shuffled, subfolders);
  if (!fromStart && !firstSix)
    show.place = ReadPlace(show.identity);
  if (!list.shuffled) {
    if (show.place.known)
      how.from = KeyOfPath(roots, show.place.last);
    return how;
  }
  // Shuffled: the round kept goes on after its last picture seen, with
  // those not seen in it first; else a new round.
  if (!show.place.known)
    show.place.seed =
        std::random_device{}() * 0x9e3779b97f4a7c15ull ^ std::random_device{}();
  list.seed = show.place.seed;
  list.after = show.place.known ? ShuffleKey(list.seed, show.place.last) : 0;
  uint64_t seed = list.seed, after = list.after;
  how.preferred = [seed, after](const std::string &path) {
    return ShuffleKey(seed, AbsolutePath(path)) > after;
  };
  return how;
}

void FirstOfTheRound(const ShowList &list, Choice &choice) {
  if (choice.show.empty())
    return;
  auto notSeenFirst = [&](const FoundPicture &p) {
    uint64_t key = ShuffleKey(list.seed, AbsolutePath(p.path));
    return std::make_pair(key <= list.after, key);
  };
  std::stable_sort(choice.found.begin(), choice.found.end(),
                   [&](const FoundPicture &a, const FoundPicture &b) {
                     return notSeenFirst(a) < notSeenFirst(b);
                   });
  for (size_t i = 0; i < choice.found.size(); i++) {
    choice.show[i] = choice.found[i].path;
    choice.showMotions[i] = choice.found[i].motion;
    if (i < size_t(kFaces)) {
      choice.pictures[i] = choice.found[i].path;
      choice.motions[i] = choice.found[i].motion;
    }
  }
}

void ListedAtStart(RunningShow &show, const std::vector<FoundPicture> &found) {
  for (const FoundPicture &p : found) {
    show.byPlace.emplace(p.key, int(show.pictures.size()));
    show.pictures.push_back(AbsolutePath(p.path));
    show.watch.known.insert(p.path);
  }
}

void KeepTheShowGoing(RunningShow &show) {
  std::string heard;
  double nextLook = 0, nextFullLook = 0;
  bool viewerReads = true, watching = false;
  for (;;) {
    if (show.walk.done && !watching) { // the walk is over: the watch begins
      WatchWhatWasWalked(show.watch, show.walk);
      watching = true;
      nextLook = nextFullLook =
          clockSeconds(CLOCK_MONOTONIC) + show.lookEverySeconds;
    }
    bool walking = !show.walk.done && viewerReads;
    double now = clockSeconds(CLOCK_MONOTONIC);
    int wait = walking       ? 0
               : viewerReads ? int(std::max(0.0, nextLook - now) * 1000) + 1
                             : -1;
    pollfd seen = {show.seen, POLLIN, 0};
    int ready = poll(&seen, 1, wait);
    if ((ready > 0 && !hear(show, heard)) || (ready < 0 && errno != EINTR))
      return; // the viewer has ended
    std::vector<FoundPicture> found;
    now = clockSeconds(CLOCK_MONOTONIC);
    if (walking) {
      WalkOn(show.walk, 256, 1, found);
      viewerReads = send(show, found, false);
    } else if (viewerReads && now >= nextLook) {
      // All the folders now and then; pictures arriving soon again.
      bool full = now >= nextFullLook;
      LookAgain(show.watch, full, clockSeconds(CLOCK_REALTIME), found);
      viewerReads = send(show, found, true);
      if (full)
        nextFullLook = now + show.lookEverySeconds;
      nextLook = show.watch.arriving.empty()
                     ? nextFullLook
                     : std::min(nextFullLook, now + kSettledSeconds);
    }
  }
}

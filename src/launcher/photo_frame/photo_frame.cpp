#include "launcher/photo_frame/photo_frame.h"

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "launcher/photo_frame/screen_power.h"

namespace {

std::thread worker;
std::mutex mutex;
std::condition_variable wake;
bool ending = false;

// Waits `seconds`, or less where the frame is ended; whether it goes on.
bool waitFor(double seconds) {
  std::unique_lock<std::mutex> lock(mutex);
  wake.wait_for(lock, std::chrono::duration<double>(seconds),
                [] { return ending; });
  return !ending;
}

// The viewer's window once it has one (it shows within seconds), filling
// the screen.
void fillTheScreen(Display *d, pid_t viewer) {
  for (int tries = 0; tries < 600; tries++) {
    Window w = FindViewerWindow(d, viewer);
    XWindowAttributes a = {};
    if (w != 0 && XGetWindowAttributes(d, w, &a) && a.map_state == IsViewable) {
      FillTheScreen(d, w);
      return;
    }
    if (!waitFor(0.05))
      return;
  }
}

struct Night {
  bool off = false, turnedOff = false;
  Window cover = 0, hidden = 0; // the black cover, or the viewer hidden
  bool fullscreen = false;
};

// The screen off where it can be, else black: on X a cover over it, under
// Wayland the viewer's window hidden while it still runs (cage shows no
// change once it is stopped). Then the viewer and its decoders stopped.
void toNight(Display *d, pid_t viewer, Night &n, bool fullscreen) {
  n.turnedOff = TurnTheScreen(d, false);
  Window w = d != nullptr && !n.turnedOff && UnderWayland()
                 ? FindViewerWindow(d, viewer)
                 : 0;
  if (w != 0) {
    HideTheViewer(d, w, true);
    n.hidden = w;
  } else if (!n.turnedOff && d != nullptr) {
    n.cover = CoverTheScreen(d, 0);
  }
  kill(-viewer, SIGTSTP);
  n.off = true;
  n.fullscreen = fullscreen;
}

void toDay(Display *d, pid_t viewer, Night &n) {
  kill(-viewer, SIGCONT);
  if (n.turnedOff)
    TurnTheScreen(d, true);
  if (n.cover != 0)
    n.cover = CoverTheScreen(d, n.cover);
  if (n.hidden != 0) {
    HideTheViewer(d, n.hidden, false);
    if (n.fullscreen) // shown again, its window asks anew
      FillTheScreen(d, n.hidden);
  }
  n = {};
}

void run(PhotoFrame frame, pid_t viewer) {
  Display *d =
      XOpenDisplay(frame.display.empty() ? nullptr : frame.display.c_str());
  if (frame.fullscreen && d != nullptr)
    fillTheScreen(d, viewer);
  Night night;
  // The schedule decided afresh from the wall clock at every change and at
  // least every 30 s: a jump of the clock counts within that.
  while (!frame.screenOff.empty()) {
    int now = SecondOfTheDayNow();
    bool off = ScreenOffAt(frame.screenOff, now);
    if (off && !night.off)
      toNight(d, viewer, night, frame.fullscreen);
    else if (!off && night.off)
      toDay(d, viewer, night);
    int next = SecondsToNextChange(frame.screenOff, now);
    if (!waitFor(std::min(next, 30)))
      break;
  }
  if (night.off)
    toDay(d, viewer, night);
  if (d != nullptr)
    XCloseDisplay(d);
}

} // namespace

bool FrameWanted(const PhotoFrame &frame) {
  return frame.fullscreen || !frame.screenOff.empty();
}

void StartPhotoFrame(const PhotoFrame &frame, pid_t viewer) {
  if (!FrameWanted(frame) || viewer <= 0)
    return;
  ending = false;
  worker = std::thread(run, frame, viewer);
}

void EndPhotoFrame() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ending = true;
  }
  wake.notify_all();
  if (worker.joinable())
    worker.join();
}

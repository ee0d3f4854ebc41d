// A photo frame: the viewer filling the screen (--fullscreen), and the
// screen off at the hours a schedule says (--screen-off). While it is off
// the viewer and its decoders are stopped (SIGTSTP to the viewer's process
// group: the viewer keeps its clock without the time stopped, so its show
// and animations go on where they were), and the screen is turned off, or,
// where it can't be, covered in black.
#pragma once

#include <string>
#include <sys/types.h>

#include "launcher/photo_frame/screen_schedule.h"

struct PhotoFrame {
  bool fullscreen = false;
  ScreenSchedule screenOff;
  std::string display; // the viewer's -display, else $DISPLAY
};

// Whether the frame has anything to do; the viewer then runs in a process
// group of its own, its decoders with it.
bool FrameWanted(const PhotoFrame &frame);

// Starts the frame's work beside the viewer, process `viewer`.
void StartPhotoFrame(const PhotoFrame &frame, pid_t viewer);

// Ends it, the screen on and the viewer going again.
void EndPhotoFrame();

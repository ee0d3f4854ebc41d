/* What frame_probe.so (preloaded into a viewer) shares with the process that
 * watches it, through a file mapped by both. The probe writes, the watcher
 * reads; `seq` is odd while the probe is writing a frame's record. */
#ifndef VORLIX_PROBE_STATE_H
#define VORLIX_PROBE_STATE_H

#include <stdint.h>

#define PROBE_MAX_WIDTH 1024
#define PROBE_MAX_HEIGHT 1024
#define PROBE_LOG_FRAMES (1 << 17)

/* One frame of the log: when it was shown, the last six textures bound for
 * it (the frame binds one a face, in face order), and its model-view
 * matrix's third row (how far each face's normal points towards the eye). */
typedef struct {
  int64_t swap_ns;
  uint32_t textures[6];
  float z_row[3];
  uint32_t pad;
} ProbeFrame;

typedef struct {
  uint32_t seq;
  uint32_t pad;
  uint64_t frames;       /* buffer swaps completed */
  uint64_t window;       /* X window id of the drawable swapped */
  int64_t first_swap_ns; /* CLOCK_MONOTONIC when the first swap returned */
  int64_t last_swap_ns;
  int32_t viewport[4]; /* of the last frame, read before its swap */
  float projection[16];
  float modelview[16];

  /* Pixel capture: the watcher raises `capture_request`; at the next swap the
   * probe reads the back buffer into `pixels` (RGBA rows, bottom row first)
   * together with that frame's state, then sets `capture_done` to match. */
  uint32_t capture_request;
  uint32_t capture_done;
  uint64_t capture_frame;
  int32_t capture_width, capture_height;
  /* In lockstep, every frame waits at its swap to be asked for: the watcher
   * captures one frame after another, none left out. */
  uint32_t lockstep;
  /* While set, every frame is logged, the n-th in log[n % PROBE_LOG_FRAMES];
   * and the longest time between two swaps after the first is kept. */
  uint32_t logging;
  int64_t longest_frame_ns;
  /* Texture images replaced (glTexSubImage2D of level 0): the frames of
   * animations and clips put on their faces. */
  uint64_t texture_updates;
  ProbeFrame log[PROBE_LOG_FRAMES];
  float capture_modelview[16];
  unsigned char pixels[PROBE_MAX_WIDTH * PROBE_MAX_HEIGHT * 4];
} ProbeState;

#endif

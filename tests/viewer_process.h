// The real viewer binary, started in a folder under the X server named by
// DISPLAY, with frame_probe.so preloaded to watch its frames.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "pixel_probe.h"
#include "probe_state.h"

// Where the first frame (x 40, y 0.5) shows the middles of the front face
// and of the top face, in GL window coordinates.
constexpr int kFrontX = 240, kFrontY = 133;
constexpr int kTopX = 240, kTopY = 235;
const Rgb kWhite = {255, 255, 255};
const Rgb kBlack = {0, 0, 0};

// What the probe recorded for the latest frame shown.
struct FrameRecord {
  unsigned long long frames = 0;
  unsigned long window = 0;
  long long first_swap_ns = 0;
  long long last_swap_ns = 0;
  int viewport[4] = {0, 0, 0, 0};
  float projection[16] = {};
  float modelview[16] = {};
};

// One captured frame: its number (1 for the first shown), its model-view
// matrix and its pixels.
struct Capture {
  unsigned long long frame = 0;
  float modelview[16] = {};
  Image image;
};

class ViewerProcess {
public:
  // Starts `binary` (the viewer by default) in `dir`. With `capture_first`
  // the very first frame's pixels are captured (see first_capture()).
  // `preload` names a library to preload besides the frame probe; `args`
  // are the program's arguments.
  explicit ViewerProcess(const std::string &dir, bool capture_first = false,
                         const std::string &binary = VORLIX_BINARY,
                         const std::string &preload = "",
                         const std::vector<std::string> &args = {});
  ~ViewerProcess();
  ViewerProcess(const ViewerProcess &) = delete;
  ViewerProcess &operator=(const ViewerProcess &) = delete;

  pid_t pid() const { return pid_; }
  // What the probe shares: its frame log, longest frame.
  ProbeState &probe() const { return *state_; }
  // CLOCK_MONOTONIC just before the process was started.
  long long started_ns() const { return started_ns_; }
  bool alive();
  // Waits for the process to end by itself: its wait status, or -1 when it
  // is still running after `timeout_s`.
  int wait_exit(double timeout_s = 10);
  FrameRecord record() const;
  // Waits until at least `count` frames were shown; false on timeout or exit.
  bool wait_frames(unsigned long long count, double timeout_s = 30);
  // Captures the next frame shown; false on timeout.
  bool capture(Capture &out, double timeout_s = 30);
  // In lockstep (until turned off, or the process stopped) the viewer waits
  // at each frame until it is captured: capture() takes every frame.
  void lockstep(bool on);
  // The first frame, when started with capture_first (after wait_frames(1)).
  bool first_capture(Capture &out);
  // The window's X id, as the probe saw it swapped.
  std::string window_id() const;
  // Asks the window to close, as a window manager's close button does
  // (WM_DELETE_WINDOW).
  bool close_window() const;
  // Resident memory in KiB, from /proc: now (VmRSS) or at its peak (VmHWM).
  long rss_kib(const char *field = "VmRSS") const;
  // The processes it started that are still there (its picture decoders).
  std::vector<pid_t> children() const;
  // Stops the process (SIGTERM, then SIGKILL) and returns what it wrote to
  // stdout and stderr together.
  std::string stop();
  static long long now_ns();

private:
  void copy_capture(Capture &out) const;
  std::string dir_, work_;
  pid_t pid_ = -1;
  int status_ = -1;
  long long started_ns_ = 0;
  ProbeState *state_ = nullptr;
};

// The viewer copied into `dir`, with `decoder` beside it as its decoder
// program: a shell script's text, made executable where `executable` (none
// for ""). The copy's path, to start.
std::string viewer_beside_decoder(const std::string &dir,
                                  const std::string &decoder,
                                  bool executable = true);
// The same with the real decoder program beside it, started with `preload`
// preloaded (the viewer starts its decoders with an environment of their
// own, nothing preloaded).
std::string viewer_with_decoder_preload(const std::string &dir,
                                        const std::string &preload);

// Runs a shell command and returns its standard output.
std::string run_command(const std::string &cmd);

// Runs ImageMagick's convert with `args`; what it printed, if anything.
std::string convert(const std::string &args);

// In a child process: runs `program` with `args`.
[[noreturn]] void exec_program(const std::string &program,
                               const std::vector<std::string> &args);

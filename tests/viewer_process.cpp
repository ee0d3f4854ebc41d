#include "viewer_process.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include "test_pictures.h"

long long ViewerProcess::now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

std::string run_command(const std::string &cmd) {
  std::string out;
  if (FILE *p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
      out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string convert(const std::string &args) {
  return run_command("convert " + args + " 2>&1");
}

void exec_program(const std::string &program,
                  const std::vector<std::string> &args) {
  std::vector<char *> argv = {const_cast<char *>(program.c_str())};
  for (const std::string &a : args)
    argv.push_back(const_cast<char *>(a.c_str()));
  argv.push_back(nullptr);
  execv(program.c_str(), argv.data());
  _exit(127);
}

ViewerProcess::ViewerProcess(const std::string &dir, bool capture_first,
                             const std::string &binary,
                             const std::string &preload,
                             const std::vector<std::string> &args)
    : dir_(dir), work_(make_temp_dir()) {
  std::string probe = work_ + "/probe";
  int fd = open(probe.c_str(), O_RDWR | O_CREAT, 0600);
  if (fd < 0 || ftruncate(fd, sizeof(ProbeState)) != 0)
    std::abort();
  void *p = mmap(nullptr, sizeof(ProbeState), PROT_READ | PROT_WRITE,
                 MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED)
    std::abort();
  state_ = static_cast<ProbeState *>(p);
  if (capture_first)
    state_->capture_request = 1;

  std::string out = work_ + "/output";
  started_ns_ = now_ns();
  pid_ = fork();
  if (pid_ == 0) {
    if (chdir(dir.c_str()) != 0)
      _exit(127);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(o, STDOUT_FILENO);
    dup2(o, STDERR_FILENO);
    std::string preloads = FRAME_PROBE;
    if (!preload.empty())
      preloads += ":" + preload;
    setenv("LD_PRELOAD", preloads.c_str(), 1);
    setenv("VORLIX_PROBE_FILE", probe.c_str(), 1);
    // The probe is preloaded ahead of a sanitizer runtime, which is fine.
    const char *asan = std::getenv("ASAN_OPTIONS");
    std::string options =
        std::string(asan ? asan : "") + ":verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", options.c_str(), 1);
    exec_program(binary, args);
  }
}

ViewerProcess::~ViewerProcess() {
  stop();
  munmap(state_, sizeof(ProbeState));
  remove_tree(work_);
}

bool ViewerProcess::alive() {
  if (pid_ <= 0)
    return false;
  if (waitpid(pid_, &status_, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

int ViewerProcess::wait_exit(double timeout_s) {
  long long end = now_ns() + (long long)(timeout_s * 1e9);
  while (alive() && now_ns() < end)
    usleep(10000);
  return pid_ > 0 ? -1 : status_;
}

FrameRecord ViewerProcess::record() const {
  FrameRecord r;
  for (;;) {
    uint32_t before = __atomic_load_n(&state_->seq, __ATOMIC_ACQUIRE);
    if (before % 2 == 0) {
      r.frames = state_->frames;
      r.window = state_->window;
      r.first_swap_ns = state_->first_swap_ns;
      r.last_swap_ns = state_->last_swap_ns;
      std::memcpy(r.viewport, state_->viewport, sizeof r.viewport);
      std::memcpy(r.projection, state_->projection, sizeof r.projection);
      std::memcpy(r.modelview, state_->modelview, sizeof r.modelview);
      if (__atomic_load_n(&state_->seq, __ATOMIC_ACQUIRE) == before)
        return r;
    }
    usleep(100);
  }
}

bool ViewerProcess::wait_frames(unsigned long long count, double timeout_s) {
  long long end = now_ns() + (long long)(timeout_s * 1e9);
  while (now_ns() < end) {
    if (record().frames >= count)
      return true;
    if (!alive())
      return false;
    usleep(2000);
  }
  return false;
}

void ViewerProcess::copy_capture(Capture &out) const {
  out.frame = state_->capture_frame;
  std::memcpy(out.modelview, state_->capture_modelview, sizeof out.modelview);
  out.image.width = state_->capture_width;
  out.image.height = state_->capture_height;
  out.image.rgba.assign(state_->pixels,
                        state_->pixels +
                            size_t(out.image.width) * out.image.height * 4);
}

bool ViewerProcess::first_capture(Capture &out) {
  if (__atomic_load_n(&state_->capture_done, __ATOMIC_ACQUIRE) !=
          state_->capture_request ||
      state_->capture_frame != 1)
    return false;
  copy_capture(out);
  return true;
}

bool ViewerProcess::capture(Capture &out, double timeout_s) {
  uint32_t request = state_->capture_request + 1;
  __atomic_store_n(&state_->capture_request, request, __ATOMIC_RELEASE);
  long long end = now_ns() + (long long)(timeout_s * 1e9);
  while (now_ns() < end) {
    if (__atomic_load_n(&state_->capture_done, __ATOMIC_ACQUIRE) == request) {
      copy_capture(out);
      return true;
    }
    if (!alive())
      return false;
    usleep(state_->lockstep ? 50 : 1000);
  }
  return false;
}

void ViewerProcess::lockstep(bool on) {
  __atomic_store_n(&state_->lockstep, on ? 1u : 0u, __ATOMIC_RELEASE);
}

std::string ViewerProcess::window_id() const {
  return std::to_string(record().window);
}

bool ViewerProcess::close_window() const {
  Display *x = XOpenDisplay(nullptr);
  if (x == nullptr)
    return false;
  XEvent e = {};
  e.xclient.type = ClientMessage;
  e.xclient.window = Window(record().window);
  e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  bool sent = XSendEvent(x, e.xclient.window, False, NoEventMask, &e) != 0;
  XCloseDisplay(x);
  return sent;
}

long ViewerProcess::rss_kib(const char *field) const {
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0 && line.size() > std::strlen(field) &&
        line[std::strlen(field)] == ':')
      return std::atol(line.c_str() + std::strlen(field) + 1);
  return -1;
}

std::vector<pid_t> ViewerProcess::children() const {
  std::string p = std::to_string(pid_);
  std::ifstream list("/proc/" + p + "/task/" + p + "/children");
  std::vector<pid_t> pids;
  for (pid_t child; list >> child;)
    pids.push_back(child);
  return pids;
}

std::string ViewerProcess::stop() {
  lockstep(false);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; i++)
      usleep(10000);
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }
  return read_file(work_ + "/output");
}

std::string viewer_beside_decoder(const std::string &dir,
                                  const std::string &decoder, bool executable) {
  std::string viewer = dir + "/vorlix";
  run_command("cp " VORLIX_BINARY " '" + viewer + "'");
  if (!decoder.empty()) {
    std::string program = dir + "/vorlix-decode";
    write_bytes(program, decoder);
    chmod(program.c_str(), executable ? 0755 : 0644);
  }
  return viewer;
}

std::string viewer_with_decoder_preload(const std::string &dir,
                                        const std::string &preload) {
  return viewer_beside_decoder(dir, "#!/bin/sh\nLD_PRELOAD=" + preload +
                                        " exec " DECODER_BINARY " \"$@\"\n");
}

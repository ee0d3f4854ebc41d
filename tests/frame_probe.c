/* Preloaded into a viewer (LD_PRELOAD) to watch the frames it shows, from
 * outside its code: every glXSwapBuffers call is counted and timed, and the
 * frame's viewport and matrices are recorded just before the swap; on request
 * the back buffer is read as well. The record lives in the file named by
 * VORLIX_PROBE_FILE (see probe_state.h). */
#define _GNU_SOURCE
#include "probe_state.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static ProbeState *state;
static void (*real_swap)(Display *, GLXDrawable);
static void (*real_bind)(GLenum, GLuint);
static uint32_t bound[6]; /* the last six 2-D textures bound */
static unsigned binds;

void glBindTexture(GLenum target, GLuint texture) {
  if (!real_bind)
    *(void **)&real_bind = dlsym(RTLD_NEXT, "glBindTexture");
  if (target == GL_TEXTURE_2D)
    bound[binds++ % 6] = texture;
  real_bind(target, texture);
}

static void (*real_sub_image)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei,
                              GLenum, GLenum, const void *);

void glTexSubImage2D(GLenum target, GLint level, GLint x, GLint y,
                     GLsizei width, GLsizei height, GLenum format, GLenum type,
                     const void *pixels) {
  if (!real_sub_image)
    *(void **)&real_sub_image = dlsym(RTLD_NEXT, "glTexSubImage2D");
  if (state && level == 0)
    __atomic_add_fetch(&state->texture_updates, 1, __ATOMIC_RELAXED);
  real_sub_image(target, level, x, y, width, height, format, type, pixels);
}

static int64_t now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static void open_state(void) {
  const char *path = getenv("VORLIX_PROBE_FILE");
  if (!path)
    return;
  int fd = open(path, O_RDWR | O_CREAT, 0600);
  if (fd < 0)
    return;
  if (ftruncate(fd, sizeof(ProbeState)) == 0) {
    void *p = mmap(NULL, sizeof(ProbeState), PROT_READ | PROT_WRITE, MAP_SHARED,
                   fd, 0);
    if (p != MAP_FAILED)
      state = p;
  }
  close(fd);
}

static void capture(Display *dpy, GLXDrawable drawable) {
  unsigned int w = 0, h = 0;
  glXQueryDrawable(dpy, drawable, GLX_WIDTH, &w);
  glXQueryDrawable(dpy, drawable, GLX_HEIGHT, &h);
  if (w > PROBE_MAX_WIDTH)
    w = PROBE_MAX_WIDTH;
  if (h > PROBE_MAX_HEIGHT)
    h = PROBE_MAX_HEIGHT;
  GLint read_buffer, pack_alignment;
  glGetIntegerv(GL_READ_BUFFER, &read_buffer);
  glGetIntegerv(GL_PACK_ALIGNMENT, &pack_alignment);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, (GLsizei)w, (GLsizei)h, GL_RGBA, GL_UNSIGNED_BYTE,
               state->pixels);
  glPixelStorei(GL_PACK_ALIGNMENT, pack_alignment);
  glReadBuffer((GLenum)read_buffer);
  state->capture_width = (int32_t)w;
  state->capture_height = (int32_t)h;
  state->capture_frame = state->frames + 1;
  for (int i = 0; i < 16; i++)
    state->capture_modelview[i] = state->modelview[i];
  __atomic_store_n(&state->capture_done,
                   __atomic_load_n(&state->capture_request, __ATOMIC_ACQUIRE),
                   __ATOMIC_RELEASE);
}

void glXSwapBuffers(Display *dpy, GLXDrawable drawable) {
  if (!real_swap) {
    *(void **)&real_swap = dlsym(RTLD_NEXT, "glXSwapBuffers");
    open_state();
  }
  /* One frame's record: its state, read before the swap, and the count and
   * time once the swap has returned; `seq` stays odd all the while. */
  if (state) {
    __atomic_add_fetch(&state->seq, 1, __ATOMIC_ACQ_REL);
    state->window = drawable;
    glGetIntegerv(GL_VIEWPORT, state->viewport);
    glGetFloatv(GL_PROJECTION_MATRIX, state->projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, state->modelview);
    while (__atomic_load_n(&state->lockstep, __ATOMIC_ACQUIRE) &&
           __atomic_load_n(&state->capture_request, __ATOMIC_ACQUIRE) ==
               state->capture_done)
      usleep(50);
    if (__atomic_load_n(&state->capture_request, __ATOMIC_ACQUIRE) !=
        state->capture_done)
      capture(dpy, drawable);
  }
  real_swap(dpy, drawable);
  if (state) {
    int64_t t = now_ns();
    if (state->frames > 0 && t - state->last_swap_ns > state->longest_frame_ns)
      state->longest_frame_ns = t - state->last_swap_ns;
    if (__atomic_load_n(&state->logging, __ATOMIC_ACQUIRE)) {
      ProbeFrame *f = &state->log[state->frames % PROBE_LOG_FRAMES];
      f->swap_ns = t;
      for (unsigned i = 0; i < 6; i++)
        f->textures[i] = bound[(binds + i) % 6];
      for (int i = 0; i < 3; i++)
        f->z_row[i] = state->modelview[4 * i + 2];
    }
    if (state->frames == 0)
      state->first_swap_ns = t;
    state->last_swap_ns = t;
    state->frames++;
    __atomic_add_fetch(&state->seq, 1, __ATOMIC_ACQ_REL);
  }
}

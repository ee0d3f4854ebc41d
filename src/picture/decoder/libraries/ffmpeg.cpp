// Clips (MP4, MOV, Matroska, WebM, AVI, MPEG-TS), and the clip inside a
// Motion Photo (motion_photo.h), through FFmpeg's libavformat and
// libavcodec, loaded when needed (ffmpeg_calls.cpp) and opened over the
// bytes the viewer opened (ffmpeg_open.cpp). A clip's first frame is its
// still, and its frames then go by their timestamps, those late by the
// viewer's clock dropped; a Motion Photo's clip plays once.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iconv.h>

#include "picture/decoder/libraries/ffmpeg_calls.h"
#include "picture/decoder/libraries/library.h"
#include "picture/decoder/libraries/motion_photo.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"

namespace {

void ClipClose(void *animation) {
  auto *c = static_cast<Clip *>(animation);
  CloseClip(*c);
  delete c;
}

// A clip, or a Motion Photo's clip inside its JPEG (played once).
void *ClipOpen(const unsigned char *file, size_t size, int &plays) {
  bool inside = MayHoldAClip(PictureKindOf({-1, file, size}));
  ClipInside clip = inside ? MotionPhotoClip(file, size) : ClipInside{0, size};
  if (clip.size == 0)
    return nullptr;
  auto *c = new Clip;
  c->file = file + clip.at;
  c->size = clip.size;
  if (!OpenClip(*c)) {
    ClipClose(c);
    return nullptr;
  }
  plays = inside ? 1 : 0; // a clip loops on its face
  return c;
}

// Whether the file holds a video stream: its container alone, no decoding.
bool ClipMoving(const unsigned char *file, size_t size) {
  Clip c;
  c.file = file;
  c.size = size;
  bool moving = HoldsVideo(c);
  CloseClip(c);
  return moving;
}

// A clip's still is its first frame; a Motion Photo's is its photo.
bool ClipStillIsFirstFrame(const unsigned char *file, size_t size, bool) {
  return IsClip(PictureKindOf({-1, file, size}));
}

// The next frame out of the decoder, packets of the video stream read and
// sent to it until one comes; false at the clip's end. A packet the decoder
// refuses (broken data) is passed over.
bool decodeFrame(Clip &c) {
  for (;;) {
    int received = ff.receiveFrame(c.codec, c.frame);
    if (received != AVERROR(EAGAIN))
      return received == 0;
    if (c.drained)
      return false;
    if (ff.readFrame(c.format, c.packet) < 0) {
      ff.sendPacket(c.codec, nullptr); // the end: what it holds comes out
      c.drained = true;
      continue;
    }
    if (c.packet->stream_index == c.stream)
      ff.sendPacket(c.codec, c.packet);
    ff.unrefPacket(c.packet);
  }
}

// The decoded frame's time from the clip's first, by its timestamp; where
// that goes backwards (camera files joined), comes less than a millisecond
// after the last (a muxer's mending of that), or jumps ahead by more than a
// few seconds (cut files), a frame after the last one instead.
int64_t frameTimeUs(Clip &c) {
  int64_t ts = c.frame->best_effort_timestamp;
  int64_t next = c.lastUs < 0 ? 0 : c.lastUs + c.frameUs;
  if (ts == AV_NOPTS_VALUE)
    return next;
  if (c.firstTs == INT64_MIN)
    c.firstTs = ts;
  double us = (double(ts) - double(c.firstTs)) * c.timeBase * 1e6;
  bool believed = c.seeked ? us >= 0 && us < 1e12
                           : us >= double(c.lastUs) + 1000 &&
                                 us <= double(next) + kSeekWhenBehindUs * 10.0;
  return believed || c.lastUs < 0 ? std::max<int64_t>(0, int64_t(us)) : next;
}

int64_t durationUs(const Clip &c) {
#if VORLIX_FRAME_DURATION
  int64_t d = c.frame->duration;
#else
  int64_t d = c.frame->pkt_duration;
#endif
  double us = double(d) * c.timeBase * 1e6;
  return us >= 1000 && us <= 1e6 ? int64_t(us) : c.frameUs;
}

int64_t monotonicUs() {
  timespec t = {};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

// Far behind: on to the first key frame at or after `us`, where there is
// one.
void skipTo(Clip &c, int64_t us) {
  double ts = double(c.firstTs == INT64_MIN ? 0 : c.firstTs) +
              double(us) / 1e6 / c.timeBase;
  if (c.drained || !(ts < 9e18) ||
      ff.seekFile(c.format, c.stream, int64_t(ts), int64_t(ts), INT64_MAX, 0) <
          0)
    return;
  ff.flush(c.codec);
  c.seeked = true;
}

// The next frame that is not late by the viewer's clock (where it has
// told it), or the one reached once dropping has taken too long.
bool ClipNext(void *animation, DecodedPicture &out, int &delayMs) {
  Clip &c = *static_cast<Clip *>(animation);
  int64_t began = monotonicUs();
  for (;;) {
    int64_t due = c.playedUs < 0 ? -1 : c.playedUs + monotonicUs() - began;
    bool behind = due >= 0 && due - c.lastUs > 2 * c.frameUs;
    c.codec->skip_frame = behind ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    if (!decodeFrame(c))
      return false;
    c.lastUs = frameTimeUs(c);
    c.seeked = false;
    due = c.playedUs < 0 ? -1 : c.playedUs + monotonicUs() - began;
    bool late = due >= 0 && c.lastUs + durationUs(c) <= due;
    if (!late || monotonicUs() - began > kMostDroppingUs)
      break;
    if (due - c.lastUs > kSeekWhenBehindUs)
      skipTo(c, due + c.frameUs);
  }
  delayMs = int(durationUs(c) / 1000);
  if (!MakeClipPicture(c, out))
    return false;
  out.atUs = c.lastUs;
  return true;
}

void ClipKeepUp(void *animation, ShownSize shown, int64_t playedUs) {
  Clip &c = *static_cast<Clip *>(animation);
  c.shown = shown;
  c.playedUs = playedUs;
}

// MPEG-TS names its programmes in the broadcast text encodings, which
// libavformat converts with iconv: the C library loads each conversion's
// module from a file the first time it is asked for. Loaded here, before the
// sandbox, and kept (a module whose last user goes may be unloaded).
const char *const kEncodings[] = {
    "ISO6937",     "ISO-8859-1",  "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",
    "ISO-8859-5",  "ISO-8859-6",  "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",
    "ISO-8859-10", "ISO-8859-11", "ISO-8859-13", "ISO-8859-14", "ISO-8859-15",
    "UCS-2BE",     "KSC_5601",    "GB2312",      "BIG5",        "UTF-16BE"};
iconv_t keptEncodings[sizeof kEncodings / sizeof *kEncodings];

void readyTextEncodings() {
  for (size_t i = 0; i < sizeof kEncodings / sizeof *kEncodings; i++)
    keptEncodings[i] = iconv_open("UTF-8", kEncodings[i]);
}

unsigned FfmpegReady(unsigned kinds) {
  if (!LoadFfmpeg())
    return 0;
  ff.setLogLevel(AV_LOG_QUIET);
  // What it looks up the first time it runs, here before the sandbox.
  ff.cpuFlags();
  if (kinds & (1u << kMpegTsKind))
    readyTextEncodings();
  return kinds;
}

} // namespace

// clang-format off
extern const Library kFfmpegLibrary = {
  "FFmpeg",
  FfmpegReady, // readied
  nullptr, nullptr, // its reader: a clip's still is its first frame
  ClipStillIsFirstFrame, ClipMoving, ClipOpen, ClipNext, ClipClose, // its animator
  ClipKeepUp,
};
// clang-format on

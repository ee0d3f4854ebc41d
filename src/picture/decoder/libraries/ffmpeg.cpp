// Clips (MP4, MOV, Matroska, WebM, AVI, MPEG-TS), and the clip inside a
// Motion Photo (motion_photo.h), through FFmpeg's
// libavformat and libavcodec, loaded when needed (ffmpeg_calls.cpp). A clip
// is read from the bytes the viewer opened, through an I/O context over
// them: nothing is opened (a playlist's segment, a MOV's reference to
// another file), no protocol is allowed, and the demuxer is the one the
// kind table chose by content. Only its video is read, by one of the video
// decoders allowed here; its first frame is its still, and its frames then
// go by their timestamps, those late by the viewer's clock dropped.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iconv.h>
#include <string>

#include "picture/decoder/libraries/ffmpeg_calls.h"
#include "picture/decoder/libraries/library.h"
#include "picture/decoder/libraries/motion_photo.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"

namespace {

constexpr int kIoBufferBytes = 64 * 1024;
// The decoders a clip may be read with, by FFmpeg's names: the phones' and
// cameras' codecs, and nothing else in FFmpeg's long list.
constexpr const char *kDecodersAllowed =
    "h264,hevc,vp8,vp9,libdav1d,mjpeg,mpeg2video,mpeg4,prores";

int readIo(void *opaque, uint8_t *buffer, int wanted) {
  Clip &c = *static_cast<Clip *>(opaque);
  size_t n = std::min(size_t(std::max(wanted, 0)), c.size - c.at);
  if (n == 0)
    return AVERROR_EOF;
  std::memcpy(buffer, c.file + c.at, n);
  c.at += n;
  return int(n);
}

int64_t seekIo(void *opaque, int64_t offset, int whence) {
  Clip &c = *static_cast<Clip *>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE)
    return int64_t(c.size);
  int64_t from = whence == SEEK_SET   ? 0
                 : whence == SEEK_CUR ? int64_t(c.at)
                 : whence == SEEK_END ? int64_t(c.size)
                                      : -1;
  if (from < 0 || offset < -from || offset > int64_t(c.size) - from)
    return AVERROR(EINVAL);
  c.at = size_t(from + offset);
  return int64_t(c.at);
}

int refuseOpen(AVFormatContext *, AVIOContext **, const char *, int,
               AVDictionary **) {
  return AVERROR(EPERM);
}

const char *demuxerFor(int kind) {
  switch (kind) {
  case kMp4Kind:
    return "mov";
  case kMatroskaKind:
    return "matroska";
  case kAviKind:
    return "avi";
  case kMpegTsKind:
    return "mpegts";
  default:
    return nullptr;
  }
}

void ClipClose(void *animation) {
  auto *c = static_cast<Clip *>(animation);
  if (c->scaler != nullptr)
    ff.freeScaler(c->scaler);
  ff.freeFrame(&c->frame);
  ff.freePacket(&c->packet);
  ff.freeCodec(&c->codec);
  ff.closeInput(&c->format);
  if (c->io != nullptr) {
    ff.freep(&c->io->buffer);
    ff.freeIo(&c->io);
  }
  delete c;
}

// Opens the file's container, through the I/O context, with the demuxer of
// its kind.
bool openContainer(Clip &c) {
  const char *demuxer = demuxerFor(PictureKindOf({-1, c.file, c.size}));
  const AVInputFormat *input =
      demuxer != nullptr ? ff.findInputFormat(demuxer) : nullptr;
  auto *buffer = static_cast<unsigned char *>(ff.malloc(kIoBufferBytes));
  if (input == nullptr || buffer == nullptr) {
    ff.freep(&buffer);
    return false;
  }
  c.io = ff.allocIo(buffer, kIoBufferBytes, 0, &c, readIo, nullptr, seekIo);
  if (c.io == nullptr) {
    ff.freep(&buffer);
    return false;
  }
  c.format = ff.allocFormat();
  if (c.format == nullptr)
    return false;
  c.format->pb = c.io;
  c.format->io_open = refuseOpen;
  c.format->protocol_whitelist = ff.strdup("none");
  c.format->codec_whitelist = ff.strdup(kDecodersAllowed);
  // On failure it frees the context and leaves it null.
  return ff.openInput(&c.format, nullptr, input, nullptr) >= 0;
}

// The video stream, the others discarded by the demuxer (audio and
// subtitles are never decoded).
AVStream *videoStream(Clip &c) {
  c.stream =
      ff.findBestStream(c.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (c.stream < 0)
    return nullptr;
  for (unsigned i = 0; i < c.format->nb_streams; i++)
    if (int(i) != c.stream)
      c.format->streams[i]->discard = AVDISCARD_ALL;
  return c.format->streams[c.stream];
}

// A decoder for the stream, where its codec is one allowed and its size
// within the limit.
bool openDecoder(Clip &c, const AVStream &s) {
  const AVCodecParameters &p = *s.codecpar;
  if (int64_t(p.width) * p.height > kMaxClipPixels)
    return false;
  // FFmpeg's own AV1 decoder needs the graphics hardware: dav1d's.
  const AVCodec *decoder = p.codec_id == AV_CODEC_ID_AV1
                               ? ff.findDecoderNamed("libdav1d")
                               : ff.findDecoder(p.codec_id);
  std::string allowed = std::string(",") + kDecodersAllowed + ",";
  if (decoder == nullptr ||
      allowed.find(std::string(",") + decoder->name + ",") == allowed.npos)
    return false;
  c.codec = ff.allocCodec(decoder);
  if (c.codec == nullptr || ff.parametersToContext(c.codec, &p) < 0)
    return false;
  c.codec->max_pixels = kMaxClipPixels;
  c.codec->thread_count = kClipThreads;
  return ff.openCodec(c.codec, decoder, nullptr) >= 0;
}

// A frame's nominal duration: from the stream's average frame rate, else
// its base one, else 1/30 s.
int64_t nominalFrameUs(const AVStream &s) {
  AVRational rate = s.avg_frame_rate.num > 0 && s.avg_frame_rate.den > 0
                        ? s.avg_frame_rate
                        : s.r_frame_rate;
  double us = rate.num > 0 && rate.den > 0 ? 1e6 * rate.den / rate.num : 0;
  return us >= 1000 && us <= 1e6 ? int64_t(us) : 1000000 / 30;
}

// How the stream is to be turned to stand up, as an EXIF Orientation, from
// its display matrix (a phone's portrait clip is stored on its side).
int orientationOf(const AVStream &s) {
  const int32_t *matrix = nullptr;
#if VORLIX_CODED_SIDE_DATA
  const AVPacketSideData *d =
      ff.sideDataGet(s.codecpar->coded_side_data,
                     s.codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
  if (d != nullptr && d->size >= 9 * sizeof(int32_t))
    matrix = reinterpret_cast<const int32_t *>(d->data);
#else
  size_t size = 0;
  uint8_t *d = ff.streamSideData(&s, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (d != nullptr && size >= 9 * sizeof(int32_t))
    matrix = reinterpret_cast<const int32_t *>(d);
#endif
  double anticlockwise = matrix != nullptr ? ff.rotation(matrix) : 0;
  if (!(anticlockwise >= -360 && anticlockwise <= 360))
    return 1;
  int quarters = (int(std::lround(-anticlockwise / 90)) % 4 + 4) % 4;
  const int kTurned[4] = {1, 6, 3, 8};
  return kTurned[quarters];
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
  AVStream *s = nullptr;
  bool opened = openContainer(*c) &&
                ff.findStreamInfo(c->format, nullptr) >= 0 &&
                (s = videoStream(*c)) != nullptr && openDecoder(*c, *s) &&
                (c->packet = ff.allocPacket()) != nullptr &&
                (c->frame = ff.allocFrame()) != nullptr;
  if (!opened) {
    ClipClose(c);
    return nullptr;
  }
  c->timeBase = av_q2d(s->time_base);
  c->frameUs = nominalFrameUs(*s);
  c->orientation = orientationOf(*s);
  plays = inside ? 1 : 0; // a clip loops on its face
  return c;
}

// Whether the file holds a video stream: its container alone, no decoding.
bool ClipMoving(const unsigned char *file, size_t size) {
  Clip c;
  c.file = file;
  c.size = size;
  bool moving =
      openContainer(c) &&
      ff.findBestStream(c.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0) >= 0;
  ff.closeInput(&c.format);
  if (c.io != nullptr) {
    ff.freep(&c.io->buffer);
    ff.freeIo(&c.io);
  }
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

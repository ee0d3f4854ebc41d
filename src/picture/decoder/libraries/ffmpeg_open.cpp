// Opening a clip with FFmpeg (ffmpeg_calls.h): an I/O context over its
// bytes in memory, the demuxer its content chose, its video stream and a
// decoder allowed here for it; and what the stream says of its frames
// (their pace, and which way up they are shown).
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include "picture/decoder/libraries/ffmpeg_calls.h"
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

} // namespace

bool OpenClip(Clip &c) {
  AVStream *s = nullptr;
  bool opened = openContainer(c) && ff.findStreamInfo(c.format, nullptr) >= 0 &&
                (s = videoStream(c)) != nullptr && openDecoder(c, *s) &&
                (c.packet = ff.allocPacket()) != nullptr &&
                (c.frame = ff.allocFrame()) != nullptr;
  if (!opened)
    return false;
  c.timeBase = av_q2d(s->time_base);
  c.frameUs = nominalFrameUs(*s);
  c.orientation = orientationOf(*s);
  return true;
}

bool HoldsVideo(Clip &c) {
  return openContainer(c) && ff.findBestStream(c.format, AVMEDIA_TYPE_VIDEO, -1,
                                               -1, nullptr, 0) >= 0;
}

void CloseClip(Clip &c) {
  if (c.scaler != nullptr)
    ff.freeScaler(c.scaler);
  c.scaler = nullptr;
  ff.freeFrame(&c.frame);
  ff.freePacket(&c.packet);
  ff.freeCodec(&c.codec);
  ff.closeInput(&c.format);
  if (c.io != nullptr) {
    ff.freep(&c.io->buffer);
    ff.freeIo(&c.io);
  }
}

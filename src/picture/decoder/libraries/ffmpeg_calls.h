// FFmpeg's calls, found in its libraries when a decoder is started for a
// clip (ffmpeg_calls.cpp), and what one clip's playing holds, shared by its
// opening (ffmpeg_open.cpp), its decoding (ffmpeg.cpp) and the making of
// its frames' pixels (ffmpeg_frames.cpp).
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/cpu.h>
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

#include <cstdint>
#include <vector>

#include "picture/decoder/pixels/decoded_picture.h"
#include "picture/protocol.h"

// FFmpeg 6.1 moved a stream's side data (its display matrix) into its
// codec parameters, and 7.0 took the old call away; 6.0 gave frames a
// duration of their own.
#define VORLIX_CODED_SIDE_DATA                                                 \
  (LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 31, 100))
#define VORLIX_FRAME_DURATION (LIBAVUTIL_VERSION_MAJOR >= 58)

struct Ffmpeg {
  // libavformat
  decltype(&avformat_alloc_context) allocFormat;
  decltype(&avformat_open_input) openInput;
  decltype(&avformat_find_stream_info) findStreamInfo;
  decltype(&av_find_best_stream) findBestStream;
  decltype(&av_find_input_format) findInputFormat;
  decltype(&av_read_frame) readFrame;
  decltype(&avformat_seek_file) seekFile;
  decltype(&avformat_close_input) closeInput;
  decltype(&avio_alloc_context) allocIo;
  decltype(&avio_context_free) freeIo;
#if !VORLIX_CODED_SIDE_DATA
  decltype(&av_stream_get_side_data) streamSideData;
#else
  decltype(&av_packet_side_data_get) sideDataGet;
#endif
  // libavcodec
  decltype(&avcodec_find_decoder) findDecoder;
  decltype(&avcodec_find_decoder_by_name) findDecoderNamed;
  decltype(&avcodec_alloc_context3) allocCodec;
  decltype(&avcodec_parameters_to_context) parametersToContext;
  decltype(&avcodec_open2) openCodec;
  decltype(&avcodec_send_packet) sendPacket;
  decltype(&avcodec_receive_frame) receiveFrame;
  decltype(&avcodec_flush_buffers) flush;
  decltype(&avcodec_free_context) freeCodec;
  decltype(&av_packet_alloc) allocPacket;
  decltype(&av_packet_unref) unrefPacket;
  decltype(&av_packet_free) freePacket;
  // libavutil
  decltype(&av_frame_alloc) allocFrame;
  decltype(&av_frame_free) freeFrame;
  decltype(&av_malloc) malloc;
  decltype(&av_freep) freep;
  decltype(&av_strdup) strdup;
  decltype(&av_log_set_level) setLogLevel;
  decltype(&av_display_rotation_get) rotation;
  decltype(&av_get_cpu_flags) cpuFlags;
  // libswscale
  decltype(&sws_getCachedContext) scaler;
  decltype(&sws_setColorspaceDetails) setColours;
  decltype(&sws_getCoefficients) coefficients;
  decltype(&sws_scale) scale;
  decltype(&sws_freeContext) freeScaler;
};
extern Ffmpeg ff;

// Loads FFmpeg's libraries and finds their calls; false where one is
// missing.
bool LoadFfmpeg();

// One clip's playing: from its file's first frame to its last.
struct Clip {
  const unsigned char *file = nullptr;
  size_t size = 0, at = 0; // what the I/O context has read up to
  AVIOContext *io = nullptr;
  AVFormatContext *format = nullptr;
  AVCodecContext *codec = nullptr;
  AVPacket *packet = nullptr;
  AVFrame *frame = nullptr;
  int stream = -1;
  double timeBase = 0; // seconds a timestamp unit
  int64_t frameUs = 0; // a frame's nominal duration
  int64_t firstTs = INT64_MIN, lastUs = -1;
  bool drained = false; // the decoder told there are no more packets
  bool seeked = false;  // the next frame's timestamp is believed
  int orientation = 1;  // from its display matrix, as EXIF's
  // Where the frames should have got to (the viewer's clock), and the
  // frame size asked for.
  int64_t playedUs = -1;
  ShownSize shown = {0, 0};
  // The frame's pixels, as handed over.
  SwsContext *scaler = nullptr;
  std::vector<unsigned char> pixels;
};

// Opens the clip at c.file: its container, its video stream and a decoder
// for it (ffmpeg_open.cpp); false where it can't, what it opened left for
// CloseClip. Or only whether the container holds a video stream.
bool OpenClip(Clip &c);
bool HoldsVideo(Clip &c);
// Frees what the clip holds, keeping its bytes' place.
void CloseClip(Clip &c);

// Makes the decoded frame's pixels, no larger than the clip is shown, in
// its colours as its stream says, into `out` (the clip's until the next).
bool MakeClipPicture(Clip &c, DecodedPicture &out);

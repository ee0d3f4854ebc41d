// FFmpeg's libraries, loaded into a decoder process only when it is started
// for a clip: linked into every decoder, libavcodec would bring a hundred
// libraries into each (and 30 ms to its start).
#include <dlfcn.h>

#include "picture/decoder/libraries/ffmpeg_calls.h"
#include "picture/decoder/libraries/library.h"

Ffmpeg ff;

namespace {

bool formatCalls(void *lib) {
  return FindCall(lib, "avformat_alloc_context", ff.allocFormat) &&
         FindCall(lib, "avformat_open_input", ff.openInput) &&
         FindCall(lib, "avformat_find_stream_info", ff.findStreamInfo) &&
         FindCall(lib, "av_find_best_stream", ff.findBestStream) &&
         FindCall(lib, "av_find_input_format", ff.findInputFormat) &&
         FindCall(lib, "av_read_frame", ff.readFrame) &&
         FindCall(lib, "avformat_seek_file", ff.seekFile) &&
         FindCall(lib, "avformat_close_input", ff.closeInput) &&
         FindCall(lib, "avio_alloc_context", ff.allocIo) &&
#if !VORLIX_CODED_SIDE_DATA
         FindCall(lib, "av_stream_get_side_data", ff.streamSideData) &&
#endif
         FindCall(lib, "avio_context_free", ff.freeIo);
}

bool codecCalls(void *lib) {
  return FindCall(lib, "avcodec_find_decoder", ff.findDecoder) &&
         FindCall(lib, "avcodec_find_decoder_by_name", ff.findDecoderNamed) &&
         FindCall(lib, "avcodec_alloc_context3", ff.allocCodec) &&
         FindCall(lib, "avcodec_parameters_to_context",
                  ff.parametersToContext) &&
         FindCall(lib, "avcodec_open2", ff.openCodec) &&
         FindCall(lib, "avcodec_send_packet", ff.sendPacket) &&
         FindCall(lib, "avcodec_receive_frame", ff.receiveFrame) &&
         FindCall(lib, "avcodec_flush_buffers", ff.flush) &&
         FindCall(lib, "avcodec_free_context", ff.freeCodec) &&
         FindCall(lib, "av_packet_alloc", ff.allocPacket) &&
         FindCall(lib, "av_packet_unref", ff.unrefPacket) &&
#if VORLIX_CODED_SIDE_DATA
         FindCall(lib, "av_packet_side_data_get", ff.sideDataGet) &&
#endif
         FindCall(lib, "av_packet_free", ff.freePacket);
}

bool utilCalls(void *lib) {
  return FindCall(lib, "av_frame_alloc", ff.allocFrame) &&
         FindCall(lib, "av_frame_free", ff.freeFrame) &&
         FindCall(lib, "av_malloc", ff.malloc) &&
         FindCall(lib, "av_freep", ff.freep) &&
         FindCall(lib, "av_strdup", ff.strdup) &&
         FindCall(lib, "av_log_set_level", ff.setLogLevel) &&
         FindCall(lib, "av_display_rotation_get", ff.rotation) &&
         FindCall(lib, "av_get_cpu_flags", ff.cpuFlags);
}

bool scaleCalls(void *lib) {
  return FindCall(lib, "sws_getCachedContext", ff.scaler) &&
         FindCall(lib, "sws_setColorspaceDetails", ff.setColours) &&
         FindCall(lib, "sws_getCoefficients", ff.coefficients) &&
         FindCall(lib, "sws_scale", ff.scale) &&
         FindCall(lib, "sws_freeContext", ff.freeScaler);
}

void *open(const char *name) {
  return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

} // namespace

bool LoadFfmpeg() {
  void *util = open(VORLIX_AVUTIL_LIBRARY);
  void *codec = open(VORLIX_AVCODEC_LIBRARY);
  void *format = open(VORLIX_AVFORMAT_LIBRARY);
  void *scale = open(VORLIX_SWSCALE_LIBRARY);
  bool found = util != nullptr && codec != nullptr && format != nullptr &&
               scale != nullptr && utilCalls(util) && codecCalls(codec) &&
               formatCalls(format) && scaleCalls(scale);
  if (!found)
    ff = {};
  return found;
}

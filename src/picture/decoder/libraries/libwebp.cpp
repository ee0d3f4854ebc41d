// Animated WebP, through libwebp's animation decoder: it composites each
// frame onto its canvas itself (blending, and disposal to transparent) and
// keeps that canvas and the one before, never the frames.
#include <webp/demux.h>

#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Webp {
  WebPAnimDecoder *decoder = nullptr;
  int width = 0, height = 0;
  int timestamp = 0; // when the frame last handed over ends, in ms
};

void WebpClose(void *animation) {
  auto *w = static_cast<Webp *>(animation);
  if (w->decoder != nullptr)
    WebPAnimDecoderDelete(w->decoder);
  delete w;
}

bool WebpMoving(const unsigned char *file, size_t size) {
  WebPData data = {file, size};
  WebPDemuxer *demux = WebPDemux(&data);
  if (demux == nullptr)
    return false;
  bool moving = (WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG) &&
                WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT) > 1;
  WebPDemuxDelete(demux);
  return moving;
}

// The loop count, as browsers read it: how often it is played (0: for
// ever).
void *WebpOpen(const unsigned char *file, size_t size, int &plays) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options))
    return nullptr;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  WebPData data = {file, size};
  WebPAnimInfo info;
  auto *w = new Webp;
  w->decoder = WebPAnimDecoderNew(&data, &options);
  if (w->decoder == nullptr || !WebPAnimDecoderGetInfo(w->decoder, &info) ||
      !FitsInSlot(info.canvas_width, info.canvas_height, 4)) {
    WebpClose(w);
    return nullptr;
  }
  w->width = int(info.canvas_width);
  w->height = int(info.canvas_height);
  plays = int(info.loop_count);
  return w;
}

bool WebpNext(void *animation, DecodedPicture &frame, int &delayMs) {
  Webp &w = *static_cast<Webp *>(animation);
  uint8_t *canvas = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderHasMoreFrames(w.decoder) ||
      !WebPAnimDecoderGetNext(w.decoder, &canvas, &timestamp))
    return false;
  delayMs = timestamp - w.timestamp;
  w.timestamp = timestamp;
  frame = {};
  frame.pixels = canvas;
  frame.width = w.width;
  frame.height = w.height;
  frame.channels = 4;
  frame.stride = size_t(w.width) * 4;
  return true;
}

} // namespace

// clang-format off
extern const Library kLibwebpLibrary = {
  "libwebp's demuxer",
  nullptr, // readied
  nullptr, nullptr, // its reader
  WhereItMoves, WebpMoving, WebpOpen, WebpNext, WebpClose, // its animator
};
// clang-format on

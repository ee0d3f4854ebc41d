// libjxl, the reader for JPEG XL, still and animated. Like GdkPixbuf it is
// loaded into a decoder process only when one of its pictures needs it,
// before the sandbox goes on. It decodes in worker threads of its own,
// turns the picture the way up its header says, hands over the colour
// profile of what it decoded, and composites an animation's frames itself.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/version.h>

#include "picture/decoder/libraries/libjxl_calls.h"
#include "picture/decoder/libraries/library.h"
#include "picture/decoding_limits.h"

// The library's calls, from the libraries opened here.
Jxl jxl;

namespace {

size_t workers = 0; // threads to decode in, as many as the cores

void finish(Decoding *d) {
  if (d->decoder != nullptr)
    jxl.destroy(d->decoder);
  if (d->runner != nullptr)
    jxl.destroyRunner(d->runner);
  std::free(d->pixels);
  std::free(d->profile);
  delete d;
}

// A decoder for the file, with its threads, telling of `events`.
bool start(Decoding &d, const unsigned char *file, size_t size, int events) {
  d.decoder = jxl.create(nullptr);
  d.runner = jxl.createRunner(nullptr, workers);
  return d.decoder != nullptr && d.runner != nullptr &&
         jxl.subscribe(d.decoder, events) == JXL_DEC_SUCCESS &&
         jxl.setRunner(d.decoder, jxl.runner, d.runner) == JXL_DEC_SUCCESS &&
         // Colours as they are, not already multiplied by their alpha:
         // they are composited over white later, as every reader's are.
         jxl.unpremultiply(d.decoder, JXL_TRUE) == JXL_DEC_SUCCESS &&
         jxl.setInput(d.decoder, file, size) == JXL_DEC_SUCCESS &&
         (jxl.closeInput(d.decoder), true);
}

// Runs the decoder through the file until its first frame is whole.
bool decode(Decoding &d, DecodedPicture &out) {
  JxlBasicInfo info = {};
  JxlPixelFormat format = {0, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  for (;;) {
    switch (jxl.process(d.decoder)) {
    case JXL_DEC_BASIC_INFO:
      if (jxl.basicInfo(d.decoder, &info) != JXL_DEC_SUCCESS)
        return false;
      d.info = info;
      format.num_channels = info.num_color_channels + (info.alpha_bits ? 1 : 0);
      // The size once turned the way up the header says, as it comes out.
      out.width = int(info.orientation >= 5 ? info.ysize : info.xsize);
      out.height = int(info.orientation >= 5 ? info.xsize : info.ysize);
      out.channels = int(format.num_channels);
      break;
    case JXL_DEC_COLOR_ENCODING:
      TakeJxlColours(d, out);
      break;
    case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
      // An HDR picture without alpha comes at 16 bits, kept until its
      // light is mapped; the others at 8.
      if (d.codedTransfer != 0 && (out.channels == 1 || out.channels == 3)) {
        format.data_type = JXL_TYPE_UINT16;
        out.bits = 16;
      }
      size_t bytes = 0;
      if (jxl.outSize(d.decoder, &format, &bytes) != JXL_DEC_SUCCESS ||
          bytes != size_t(out.width) * size_t(out.height) * out.channels *
                       size_t(out.bits / 8))
        return false;
      d.pixels = static_cast<unsigned char *>(std::malloc(bytes));
      if (d.pixels == nullptr ||
          jxl.setOut(d.decoder, &format, d.pixels, bytes) != JXL_DEC_SUCCESS)
        return false;
      break;
    }
    case JXL_DEC_FULL_IMAGE: // the first frame of an animation
      out.pixels = d.pixels;
      out.stride = size_t(out.width) * size_t(out.channels) * (out.bits / 8);
      out.orientation = 1; // turned already
      return true;
    default: // an error, or a file cut short
      return false;
    }
  }
}

unsigned JxlReady(unsigned kinds) {
  void *lib = dlopen(VORLIX_JXL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void *threads = dlopen(VORLIX_JXL_THREADS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  bool found =
      lib != nullptr && threads != nullptr &&
      FindCall(lib, "JxlDecoderCreate", jxl.create) &&
      FindCall(lib, "JxlDecoderDestroy", jxl.destroy) &&
      FindCall(lib, "JxlDecoderSubscribeEvents", jxl.subscribe) &&
      FindCall(lib, "JxlDecoderSetParallelRunner", jxl.setRunner) &&
      FindCall(lib, "JxlDecoderSetUnpremultiplyAlpha", jxl.unpremultiply) &&
      FindCall(lib, "JxlDecoderSetInput", jxl.setInput) &&
      FindCall(lib, "JxlDecoderCloseInput", jxl.closeInput) &&
      FindCall(lib, "JxlDecoderProcessInput", jxl.process) &&
      FindCall(lib, "JxlDecoderGetBasicInfo", jxl.basicInfo) &&
      FindCall(lib, "JxlDecoderGetFrameHeader", jxl.frameHeader) &&
      FindCall(lib, "JxlDecoderImageOutBufferSize", jxl.outSize) &&
      FindCall(lib, "JxlDecoderSetImageOutBuffer", jxl.setOut) &&
      FindCall(lib, "JxlDecoderGetICCProfileSize", jxl.profileSize) &&
      FindCall(lib, "JxlDecoderGetColorAsICCProfile", jxl.profile) &&
      FindCall(lib, "JxlDecoderGetColorAsEncodedProfile", jxl.encoded) &&
      FindCall(threads, "JxlThreadParallelRunnerCreate", jxl.createRunner) &&
      FindCall(threads, "JxlThreadParallelRunnerDestroy", jxl.destroyRunner) &&
      FindCall(threads, "JxlThreadParallelRunnerDefaultNumWorkerThreads",
               jxl.workers) &&
      FindCall(threads, "JxlThreadParallelRunner", jxl.runner);
  if (!found) {
    jxl = {};
    return 0;
  }
  // Counting the cores reads a file (/sys/devices/system/cpu/online),
  // which the sandbox won't: counted here, before it.
  workers = jxl.workers();
  return kinds;
}

bool JxlRead(const unsigned char *file, size_t size, int, ShownSize,
             DecodedPicture &out) {
  auto *d = new Decoding;
  bool read =
      start(*d, file, size,
            JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) &&
      decode(*d, out);
  if (!read) {
    finish(d);
    out = {};
    return false;
  }
  out.owner = d;
  return true;
}

void JxlRelease(DecodedPicture &picture) {
  finish(static_cast<Decoding *>(picture.owner));
  picture = {};
}

// An animation: its frames composited by libjxl (as it does unless told
// not to), each for its duration in the header's ticks; played as often as
// its header says (0: for ever).
void *JxlOpen(const unsigned char *file, size_t size, int &plays) {
  auto *d = new Decoding;
  if (!start(*d, file, size,
             JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME |
                 JXL_DEC_FULL_IMAGE) ||
      jxl.process(d->decoder) != JXL_DEC_BASIC_INFO ||
      jxl.basicInfo(d->decoder, &d->info) != JXL_DEC_SUCCESS ||
      !d->info.have_animation || d->info.animation.tps_numerator == 0 ||
      !FitsInSlot(d->info.xsize, d->info.ysize, 4)) {
    finish(d);
    return nullptr;
  }
  d->format.num_channels =
      d->info.num_color_channels + (d->info.alpha_bits ? 1 : 0);
  plays =
      int(d->info.animation.num_loops < (1u << 30) ? d->info.animation.num_loops
                                                   : 0);
  return d;
}

bool JxlNext(void *animation, DecodedPicture &frame, int &delayMs) {
  Decoding &d = *static_cast<Decoding *>(animation);
  const JxlBasicInfo &info = d.info;
  int width = int(info.orientation >= 5 ? info.ysize : info.xsize),
      height = int(info.orientation >= 5 ? info.xsize : info.ysize);
  for (;;) {
    JxlFrameHeader header;
    switch (jxl.process(d.decoder)) {
    case JXL_DEC_COLOR_ENCODING:
      TakeJxlColours(d, frame);
      break;
    case JXL_DEC_FRAME:
      if (jxl.frameHeader(d.decoder, &header) != JXL_DEC_SUCCESS)
        return false;
      delayMs = int(std::min<uint64_t>(uint64_t(header.duration) * 1000 *
                                           info.animation.tps_denominator /
                                           info.animation.tps_numerator,
                                       1u << 30));
      break;
    case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
      if (d.pixels == nullptr &&
          (jxl.outSize(d.decoder, &d.format, &d.bytes) != JXL_DEC_SUCCESS ||
           d.bytes != size_t(width) * size_t(height) * d.format.num_channels ||
           (d.pixels = static_cast<unsigned char *>(std::malloc(d.bytes))) ==
               nullptr))
        return false;
      if (jxl.setOut(d.decoder, &d.format, d.pixels, d.bytes) !=
          JXL_DEC_SUCCESS)
        return false;
      break;
    case JXL_DEC_FULL_IMAGE:
      frame.pixels = d.pixels;
      frame.width = width;
      frame.height = height;
      frame.channels = int(d.format.num_channels);
      frame.stride = size_t(width) * frame.channels;
      frame.icc = d.profile;
      frame.iccSize = d.profileSize;
      frame.codedPrimaries = d.codedPrimaries;
      frame.codedTransfer = d.codedTransfer;
      frame.peakNits = d.peakNits;
      frame.orientation = 1; // turned already
      return true;
    default: // the end, an error, or a file cut short
      return false;
    }
  }
}

void JxlClose(void *animation) {
  finish(static_cast<Decoding *>(animation));
}

bool JxlMoving(const unsigned char *file, size_t size) {
  int plays = 0;
  void *d = JxlOpen(file, size, plays);
  if (d == nullptr)
    return false;
  JxlClose(d);
  return true;
}

} // namespace

// clang-format off
extern const Library kLibjxlLibrary = {
  "libjxl",
  JxlReady, // readied
  JxlRead, JxlRelease, // its reader
  WhereItMoves, JxlMoving, JxlOpen, JxlNext, JxlClose, // its animator
};
// clang-format on

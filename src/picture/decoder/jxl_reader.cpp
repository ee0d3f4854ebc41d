// libjxl, the reader for JPEG XL. Like GdkPixbuf it is loaded into a decoder
// process only when one of its pictures needs it, before the sandbox goes
// on. It decodes in worker threads of its own, turns the picture the way up
// its header says, and hands over the colour profile of what it decoded.
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/version.h>

#include "picture/decoder/readers.h"
#include "picture/decoding_limits.h"

namespace {

// The library's calls, from the libraries opened here.
struct Jxl {
  decltype(&JxlDecoderCreate) create;
  decltype(&JxlDecoderDestroy) destroy;
  decltype(&JxlDecoderSubscribeEvents) subscribe;
  decltype(&JxlDecoderSetParallelRunner) setRunner;
  decltype(&JxlDecoderSetUnpremultiplyAlpha) unpremultiply;
  decltype(&JxlDecoderSetInput) setInput;
  decltype(&JxlDecoderCloseInput) closeInput;
  decltype(&JxlDecoderProcessInput) process;
  decltype(&JxlDecoderGetBasicInfo) basicInfo;
  decltype(&JxlDecoderImageOutBufferSize) outSize;
  decltype(&JxlDecoderSetImageOutBuffer) setOut;
  decltype(&JxlDecoderGetICCProfileSize) profileSize;
  decltype(&JxlDecoderGetColorAsICCProfile) profile;
  decltype(&JxlThreadParallelRunnerCreate) createRunner;
  decltype(&JxlThreadParallelRunnerDestroy) destroyRunner;
  decltype(&JxlThreadParallelRunnerDefaultNumWorkerThreads) workers;
  decltype(&JxlThreadParallelRunner) runner;
} jxl;
size_t workers = 0; // threads to decode in, as many as the cores

// What one picture's decoding holds, freed when it is released.
struct Decoding {
  JxlDecoder *decoder = nullptr;
  void *runner = nullptr;
  unsigned char *pixels = nullptr;
  unsigned char *profile = nullptr;
};

void finish(Decoding *d) {
  if (d->decoder != nullptr)
    jxl.destroy(d->decoder);
  if (d->runner != nullptr)
    jxl.destroyRunner(d->runner);
  std::free(d->pixels);
  std::free(d->profile);
  delete d;
}

// The profile calls of libjxl before 0.9 also take a pixel format, unused.
#if JPEGXL_NUMERIC_VERSION < JPEGXL_COMPUTE_NUMERIC_VERSION(0, 9, 0)
JxlDecoderStatus profileSize(JxlDecoder *d, size_t *size) {
  return jxl.profileSize(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, size);
}
JxlDecoderStatus profile(JxlDecoder *d, unsigned char *to, size_t size) {
  return jxl.profile(d, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, to, size);
}
#else
JxlDecoderStatus profileSize(JxlDecoder *d, size_t *size) {
  return jxl.profileSize(d, JXL_COLOR_PROFILE_TARGET_DATA, size);
}
JxlDecoderStatus profile(JxlDecoder *d, unsigned char *to, size_t size) {
  return jxl.profile(d, JXL_COLOR_PROFILE_TARGET_DATA, to, size);
}
#endif

// The profile of the decoded pixels: the file's own, or the one libjxl
// describes its colour encoding with.
void takeProfile(Decoding &d, DecodedPicture &out) {
  size_t size = 0;
  if (profileSize(d.decoder, &size) != JXL_DEC_SUCCESS || size == 0 ||
      size > kMaxProfileBytes)
    return;
  d.profile = static_cast<unsigned char *>(std::malloc(size));
  if (d.profile != nullptr &&
      profile(d.decoder, d.profile, size) == JXL_DEC_SUCCESS) {
    out.icc = d.profile;
    out.iccSize = size;
  }
}

// Runs the decoder through the file until its first frame is whole.
bool decode(Decoding &d, const unsigned char *file, size_t size,
            DecodedPicture &out) {
  JxlBasicInfo info = {};
  JxlPixelFormat format = {0, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  jxl.setInput(d.decoder, file, size);
  jxl.closeInput(d.decoder);
  for (;;) {
    switch (jxl.process(d.decoder)) {
    case JXL_DEC_BASIC_INFO:
      if (jxl.basicInfo(d.decoder, &info) != JXL_DEC_SUCCESS)
        return false;
      format.num_channels = info.num_color_channels + (info.alpha_bits ? 1 : 0);
      // The size once turned the way up the header says, as it comes out.
      out.width = int(info.orientation >= 5 ? info.ysize : info.xsize);
      out.height = int(info.orientation >= 5 ? info.xsize : info.ysize);
      out.channels = int(format.num_channels);
      break;
    case JXL_DEC_COLOR_ENCODING:
      takeProfile(d, out);
      break;
    case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
      size_t bytes = 0;
      if (jxl.outSize(d.decoder, &format, &bytes) != JXL_DEC_SUCCESS ||
          bytes != size_t(out.width) * size_t(out.height) * out.channels)
        return false;
      d.pixels = static_cast<unsigned char *>(std::malloc(bytes));
      if (d.pixels == nullptr ||
          jxl.setOut(d.decoder, &format, d.pixels, bytes) != JXL_DEC_SUCCESS)
        return false;
      break;
    }
    case JXL_DEC_FULL_IMAGE: // the first frame of an animation
      out.pixels = d.pixels;
      out.stride = size_t(out.width) * size_t(out.channels);
      out.orientation = 1; // turned already
      return true;
    default: // an error, or a file cut short
      return false;
    }
  }
}

} // namespace

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
      FindCall(lib, "JxlDecoderImageOutBufferSize", jxl.outSize) &&
      FindCall(lib, "JxlDecoderSetImageOutBuffer", jxl.setOut) &&
      FindCall(lib, "JxlDecoderGetICCProfileSize", jxl.profileSize) &&
      FindCall(lib, "JxlDecoderGetColorAsICCProfile", jxl.profile) &&
      FindCall(threads, "JxlThreadParallelRunnerCreate", jxl.createRunner) &&
      FindCall(threads, "JxlThreadParallelRunnerDestroy", jxl.destroyRunner) &&
      FindCall(threads, "JxlThreadParallelRunnerDefaultNumWorkerThreads",
               jxl.workers) &&
      FindCall(threads, "JxlThreadParallelRunner", jxl.runner);
  if (!found)
    return 0;
  // Counting the cores reads a file (/sys/devices/system/cpu/online),
  // which the sandbox won't: counted here, before it.
  workers = jxl.workers();
  return kinds;
}

bool JxlRead(const unsigned char *file, size_t size, int, ShownSize,
             DecodedPicture &out) {
  auto *d = new Decoding;
  d->decoder = jxl.create(nullptr);
  d->runner = jxl.createRunner(nullptr, workers);
  bool read =
      d->decoder != nullptr && d->runner != nullptr &&
      jxl.subscribe(d->decoder, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                    JXL_DEC_FULL_IMAGE) == JXL_DEC_SUCCESS &&
      jxl.setRunner(d->decoder, jxl.runner, d->runner) == JXL_DEC_SUCCESS &&
      // Colours as they are, not already multiplied by their alpha: they
      // are composited over white later, as every reader's are.
      jxl.unpremultiply(d->decoder, JXL_TRUE) == JXL_DEC_SUCCESS &&
      decode(*d, file, size, out);
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

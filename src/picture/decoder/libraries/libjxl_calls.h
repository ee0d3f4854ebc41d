// libjxl's calls and one picture's decoding, shared by the JPEG XL reader and
// animator (libjxl.cpp) and the reading of its colours (libjxl_colours.cpp).
#pragma once

#include <cstddef>
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>
#include <jxl/version.h>

#include "picture/decoder/pixels/decoded_picture.h"

// The library's calls, from the libraries opened here.
// The library's calls, found when it is readied (libjxl.cpp).
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
  decltype(&JxlDecoderGetFrameHeader) frameHeader;
  decltype(&JxlDecoderImageOutBufferSize) outSize;
  decltype(&JxlDecoderSetImageOutBuffer) setOut;
  decltype(&JxlDecoderGetICCProfileSize) profileSize;
  decltype(&JxlDecoderGetColorAsICCProfile) profile;
  decltype(&JxlDecoderGetColorAsEncodedProfile) encoded;
  decltype(&JxlThreadParallelRunnerCreate) createRunner;
  decltype(&JxlThreadParallelRunnerDestroy) destroyRunner;
  decltype(&JxlThreadParallelRunnerDefaultNumWorkerThreads) workers;
  decltype(&JxlThreadParallelRunner) runner;
};
extern Jxl jxl;

// What one picture's decoding holds, freed when it is released.
struct Decoding {
  JxlDecoder *decoder = nullptr;
  void *runner = nullptr;
  unsigned char *pixels = nullptr;
  unsigned char *profile = nullptr;
  // An animation's: its header, and its pixels' format and size.
  JxlBasicInfo info = {};
  JxlPixelFormat format = {0, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  size_t bytes = 0, profileSize = 0;
  // Where it is PQ or HLG: its colours as H.273 code points, and its peak.
  int codedPrimaries = 0, codedTransfer = 0;
  double peakNits = 0;
};

// The colours of the decoded pixels, once libjxl tells of them: PQ and HLG
// as H.273 code points, others as the profile libjxl describes them with.
void TakeJxlColours(Decoding &d, DecodedPicture &out);

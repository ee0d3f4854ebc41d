#include "picture/decoder/readers.h"

// clang-format off
const Reader kReaders[] = {
  // name            readied              read          release
  {"SOIL",           nullptr,             SoilRead,     SoilRelease},
  {"libjpeg-turbo",  LibjpegReady,        LibjpegRead,  LibjpegRelease},
  {"GdkPixbuf",      PixbufReady,         PixbufRead,   PixbufRelease},
  {"libjxl",         JxlReady,            JxlRead,      JxlRelease},
  {"librsvg",        RsvgReady,           RsvgRead,     RsvgRelease},
  {"LibRaw",         LibrawReady,         LibrawRead,   LibrawRelease},
  {"giflib",         nullptr,             GiflibRead,   GiflibRelease},
};
// clang-format on
static_assert(sizeof kReaders / sizeof *kReaders == kReaderCount,
              "a row for every reader");

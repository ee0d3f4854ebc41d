#include "picture/decoder/readers.h"

// clang-format off
const Reader kReaders[] = {
  // name            readied when needed  decodes smaller  read          release
  {"SOIL",           nullptr,             false,           SoilRead,     SoilRelease},
  {"libjpeg-turbo",  nullptr,             true,            LibjpegRead,  LibjpegRelease},
  {"GdkPixbuf",      PixbufReady,         false,           PixbufRead,   PixbufRelease},
  {"libjxl",         JxlReady,            false,           JxlRead,      JxlRelease},
};
// clang-format on
static_assert(sizeof kReaders / sizeof *kReaders == kReaderCount,
              "a row for every reader");

uint32_t ReadiedWhenNeeded() {
  uint32_t readers = 0;
  for (int r = 0; r < kReaderCount; r++)
    if (kReaders[r].ready != nullptr)
      readers |= 1u << r;
  return readers;
}

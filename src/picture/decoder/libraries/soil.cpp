// SOIL, the first reader: the viewer's own image library, for the kinds it
// reads (baseline JPEG, 8-bit PNG, BMP, TGA, PSD, HDR, DDS).
#include <SOIL/SOIL.h>
#include <climits>

#include "picture/decoder/libraries/library.h"
#include "picture/kinds.h"

namespace {

// SOIL is always asked for the channels the file's header says it has
// (kinds.h). Left to choose (SOIL_LOAD_AUTO), some of its readers report
// one count and return pixels of another (a PNG with a transparent colour,
// a PSD), and the rows would be read at the wrong width; asked, every one
// of them returns exactly the count asked for.
bool SoilRead(const unsigned char *file, size_t size, int kind, ShownSize,
              DecodedPicture &out) {
  auto channelsOf = kPictureKinds[kind].channels;
  if (size > INT_MAX || channelsOf == nullptr)
    return false;
  int asked = channelsOf(ByteSource{-1, file, size});
  if (asked < 1 || asked > 4)
    return false;
  int w = 0, h = 0, ch = 0;
  unsigned char *pixels =
      SOIL_load_image_from_memory(file, int(size), &w, &h, &ch, asked);
  if (pixels == nullptr)
    return false;
  out.pixels = pixels;
  out.owner = pixels;
  out.width = w;
  out.height = h;
  out.channels = asked;
  out.stride = size_t(w) * size_t(asked);
  return true;
}

void SoilRelease(DecodedPicture &picture) {
  SOIL_free_image_data(static_cast<unsigned char *>(picture.owner));
  picture = {};
}

} // namespace

// clang-format off
extern const Library kSoilLibrary = {
  "SOIL",
  nullptr, // readied
  SoilRead, SoilRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

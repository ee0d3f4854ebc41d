// SOIL, the first reader: the viewer's own image library, for the kinds it
// reads (baseline JPEG, 8-bit PNG, BMP, TGA, PSD, HDR, DDS).
#include <SOIL/SOIL.h>
#include <climits>

#include "picture/decoder/readers.h"
#include "picture/kinds.h"

bool SoilRead(const unsigned char *file, size_t size, int kind, ShownSize,
              DecodedPicture &out) {
  if (size > INT_MAX)
    return false;
  int asked = kPictureKinds[kind].soilChannels;
  int w = 0, h = 0, ch = 0;
  unsigned char *pixels = SOIL_load_image_from_memory(
      file, int(size), &w, &h, &ch, asked ? asked : SOIL_LOAD_AUTO);
  if (pixels == nullptr)
    return false;
  out.pixels = pixels;
  out.owner = pixels;
  out.width = w;
  out.height = h;
  out.channels = asked ? asked : ch;
  out.stride = size_t(w) * size_t(out.channels);
  return true;
}

void SoilRelease(DecodedPicture &picture) {
  SOIL_free_image_data(static_cast<unsigned char *>(picture.owner));
  picture = {};
}

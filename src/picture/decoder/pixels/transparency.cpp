#include "picture/decoder/pixels/transparency.h"

#include <cstddef>

namespace {

bool everyAlphaZero(const DecodedPicture &p) {
  for (int y = 0; y < p.height; y++) {
    const unsigned char *alpha =
        p.pixels + size_t(y) * p.stride + (p.channels - 1);
    for (int x = 0; x < p.width; x++, alpha += p.channels)
      if (*alpha != 0)
        return false;
  }
  return true;
}

// Each row in place: a pixel of `channels` (its alpha last) becomes one of
// `channels - 1`, written no further along the row than it was read from.
template <int channels>
void overWhite(unsigned char *pixels, int width, int height, size_t stride,
               bool composite) {
  for (int y = 0; y < height; y++) {
    unsigned char *row = pixels + size_t(y) * stride;
    const unsigned char *in = row;
    unsigned char *out = row;
    for (int x = 0; x < width; x++, in += channels, out += channels - 1) {
      unsigned a = composite ? in[channels - 1] : 255, clear = 255 - a;
      for (int c = 0; c < channels - 1; c++)
        out[c] =
            static_cast<unsigned char>((in[c] * a + 255 * clear + 127) / 255);
    }
  }
}

} // namespace

void ShowOverWhite(DecodedPicture &picture, bool unusedAlpha) {
  int ch = picture.channels;
  if ((ch != 2 && ch != 4) || picture.inks != DecodedPicture::kNoInks ||
      picture.pixels == nullptr)
    return;
  bool composite = !(unusedAlpha && everyAlphaZero(picture));
  // The reader's own pixels, there to be changed.
  auto *pixels = const_cast<unsigned char *>(picture.pixels);
  if (ch == 2)
    overWhite<2>(pixels, picture.width, picture.height, picture.stride,
                 composite);
  else
    overWhite<4>(pixels, picture.width, picture.height, picture.stride,
                 composite);
  picture.channels = ch - 1;
}

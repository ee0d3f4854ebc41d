#include "picture/decoder/libraries/libpng_stills.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace {

// Its values as the file has them, but a palette's and a transparent
// colour's expanded; 16 bits kept without alpha, in the machine's order.
// Returns the channels.
int asHandedOver(png_structp png, png_infop info, int &bits) {
  png_set_expand(png);
  bool alpha = (png_get_color_type(png, info) & PNG_COLOR_MASK_ALPHA) ||
               png_get_valid(png, info, PNG_INFO_tRNS);
  bits = png_get_bit_depth(png, info) == 16 && !alpha ? 16 : 8;
  if (bits == 8)
    png_set_strip_16(png);
  else if (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
    png_set_swap(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  return png_get_channels(png, info);
}

// Nothing here has a destructor to skip when libpng jumps back.
unsigned char *decode(const unsigned char *file, size_t size,
                      DecodedPicture &out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                           PngFails, PngQuietly);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return nullptr;
  }
  PngBytes source = {file, size, 0};
  unsigned char *volatile pixels = nullptr;
  png_bytep *volatile rows = nullptr;
  bool decoded = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &source, PngBytesRead);
    png_read_info(png, info);
    uint32_t w = png_get_image_width(png, info),
             h = png_get_image_height(png, info);
    int bits = 8, channels = asHandedOver(png, info, bits);
    size_t stride = png_get_rowbytes(png, info);
    if (FitsInSlot(w, h, 4) && channels >= 1 && channels <= 4 &&
        stride == size_t(w) * size_t(channels) * size_t(bits / 8)) {
      pixels = static_cast<unsigned char *>(std::malloc(stride * h));
      rows = static_cast<png_bytep *>(std::malloc(sizeof(png_bytep) * h));
    }
    if (pixels != nullptr && rows != nullptr) {
      for (uint32_t y = 0; y < h; y++)
        rows[y] = pixels + size_t(y) * stride;
      png_read_image(png, rows);
      out.width = int(w);
      out.height = int(h);
      out.channels = channels;
      out.bits = bits;
      out.stride = stride;
      decoded = true;
    }
  }
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  if (!decoded) {
    std::free(pixels);
    return nullptr;
  }
  return pixels;
}

} // namespace

void PngBytesRead(png_structp png, png_bytep to, size_t n) {
  auto *s = static_cast<PngBytes *>(png_get_io_ptr(png));
  if (n > s->size - s->at)
    png_error(png, "cut short");
  std::memcpy(to, s->data + s->at, n);
  s->at += n;
}

void PngQuietly(png_structp, png_const_charp) {}

void PngFails(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}

bool LibpngRead(const unsigned char *file, size_t size, int, ShownSize,
                DecodedPicture &out) {
  unsigned char *pixels = decode(file, size, out);
  out.pixels = pixels;
  out.owner = pixels;
  return pixels != nullptr;
}

void LibpngRelease(DecodedPicture &picture) {
  std::free(picture.owner);
  picture = {};
}

// libheif, the reader of HDR HEIFs (a camera's "HDR PQ" and HLG photos):
// opened only in the decoders of HEIF pictures, before the sandbox goes on
// (where GdkPixbuf's loader brings the same library). GdkPixbuf's loader
// hands every HEIF over at 8 bits and keeps no transfer; this hands a 10-
// or 12-bit one without alpha over at 16, its colours as its colour box
// codes them (libheif 1.15 gives them from the image's handle only). It
// turns the picture as its irot and imir say, and leaves the file's EXIF
// Orientation alone, as HEIF's rules want.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <libheif/heif.h>

#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Heif {
  decltype(&heif_init) init;
  decltype(&heif_context_alloc) alloc;
  decltype(&heif_context_free) free;
  decltype(&heif_context_read_from_memory_without_copy) read;
  decltype(&heif_context_get_primary_image_handle) primary;
  decltype(&heif_image_handle_release) releaseHandle;
  decltype(&heif_image_handle_get_width) width;
  decltype(&heif_image_handle_get_height) height;
  decltype(&heif_image_handle_has_alpha_channel) hasAlpha;
  decltype(&heif_image_handle_get_luma_bits_per_pixel) bits;
  decltype(&heif_image_handle_get_nclx_color_profile) nclx;
  decltype(&heif_nclx_color_profile_free) freeNclx;
  decltype(&heif_decode_image) decode;
  decltype(&heif_image_get_plane) plane;
  decltype(&heif_image_get_bits_per_pixel_range) range;
  decltype(&heif_image_release) releaseImage;
  decltype(&heif_image_get_primary_width) imageWidth;
  decltype(&heif_image_get_primary_height) imageHeight;
} heif;

unsigned HeifReady(unsigned kinds) {
  void *lib = dlopen("libheif.so.1", RTLD_NOW | RTLD_LOCAL);
  bool found =
      lib != nullptr && FindCall(lib, "heif_init", heif.init) &&
      FindCall(lib, "heif_context_alloc", heif.alloc) &&
      FindCall(lib, "heif_context_free", heif.free) &&
      FindCall(lib, "heif_context_read_from_memory_without_copy", heif.read) &&
      FindCall(lib, "heif_context_get_primary_image_handle", heif.primary) &&
      FindCall(lib, "heif_image_handle_release", heif.releaseHandle) &&
      FindCall(lib, "heif_image_handle_get_width", heif.width) &&
      FindCall(lib, "heif_image_handle_get_height", heif.height) &&
      FindCall(lib, "heif_image_handle_has_alpha_channel", heif.hasAlpha) &&
      FindCall(lib, "heif_image_handle_get_luma_bits_per_pixel", heif.bits) &&
      FindCall(lib, "heif_image_handle_get_nclx_color_profile", heif.nclx) &&
      FindCall(lib, "heif_nclx_color_profile_free", heif.freeNclx) &&
      FindCall(lib, "heif_decode_image", heif.decode) &&
      FindCall(lib, "heif_image_get_plane", heif.plane) &&
      FindCall(lib, "heif_image_get_bits_per_pixel_range", heif.range) &&
      FindCall(lib, "heif_image_release", heif.releaseImage) &&
      FindCall(lib, "heif_image_get_primary_width", heif.imageWidth) &&
      FindCall(lib, "heif_image_get_primary_height", heif.imageHeight);
  // It sets itself up (its plugins looked for) here, once, held for good.
  return found && heif.init(nullptr).code == heif_error_Ok ? kinds : 0;
}

// The transfer and primaries its colour box codes, where they are HDR's.
bool hdrColours(const heif_image_handle *h, int &primaries, int &transfer) {
  heif_color_profile_nclx *nclx = nullptr;
  if (heif.nclx(h, &nclx).code != heif_error_Ok || nclx == nullptr)
    return false;
  primaries = int(nclx->color_primaries);
  transfer = int(nclx->transfer_characteristics);
  heif.freeNclx(nclx);
  return transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_PQ ||
         transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_HLG;
}

// The values of 10 or 12 bits a 16-bit picture's: v << (16 - bits), the
// top bits repeated below.
void toSixteenBits(unsigned char *row, int values, int bits) {
  auto *v = reinterpret_cast<uint16_t *>(row);
  for (int i = 0; i < values; i++)
    v[i] = uint16_t(v[i] << (16 - bits) | v[i] >> (2 * bits - 16));
}

// The file's primary image, decoded: an HDR one without alpha at 16 bits
// (RRGGBB, of `bits`), the others at 8; null where it can't be.
heif_image *decodePrimary(const unsigned char *file, size_t size,
                          DecodedPicture &out, int &bits) {
  heif_context *c = heif.alloc();
  heif_image_handle *h = nullptr;
  heif_image *image = nullptr;
  if (c != nullptr && heif.read(c, file, size, nullptr).code == heif_error_Ok &&
      heif.primary(c, &h).code == heif_error_Ok &&
      FitsInSlot(heif.width(h), heif.height(h), 4)) {
    bool alpha = heif.hasAlpha(h), deep = heif.bits(h) > 8 && !alpha;
    bool hdr = hdrColours(h, out.codedPrimaries, out.codedTransfer);
    heif_chroma chroma = hdr && deep ? heif_chroma_interleaved_RRGGBB_LE
                         : alpha     ? heif_chroma_interleaved_RGBA
                                     : heif_chroma_interleaved_RGB;
    if (heif.decode(h, &image, heif_colorspace_RGB, chroma, nullptr).code !=
        heif_error_Ok)
      image = nullptr;
    out.channels = alpha ? 4 : 3;
    out.bits = chroma == heif_chroma_interleaved_RRGGBB_LE ? 16 : 8;
    if (!hdr)
      out.codedPrimaries = out.codedTransfer = 0;
  }
  if (h != nullptr)
    heif.releaseHandle(h);
  if (c != nullptr)
    heif.free(c);
  bits = image != nullptr ? heif.range(image, heif_channel_interleaved) : 0;
  return image;
}

bool HeifRead(const unsigned char *file, size_t size, int, ShownSize,
              DecodedPicture &out) {
  int bits = 0, stride = 0;
  heif_image *image = decodePrimary(file, size, out, bits);
  unsigned char *pixels =
      image ? heif.plane(image, heif_channel_interleaved, &stride) : nullptr;
  out.width = image ? heif.imageWidth(image) : 0;
  out.height = image ? heif.imageHeight(image) : 0;
  out.stride = size_t(stride > 0 ? stride : 0);
  bool sixteen = out.bits == 16;
  if (pixels == nullptr || out.width <= 0 || out.height <= 0 ||
      (sixteen ? bits <= 8 || bits > 16 : bits != 8) ||
      out.stride < size_t(out.width) * size_t(out.channels) * (out.bits / 8)) {
    if (image != nullptr)
      heif.releaseImage(image);
    out = {};
    return false;
  }
  for (int y = 0; sixteen && bits < 16 && y < out.height; y++)
    toSixteenBits(pixels + size_t(y) * out.stride, out.width * 3, bits);
  out.orientation = 1; // turned by libheif
  out.pixels = pixels;
  out.owner = image;
  return true;
}

void HeifRelease(DecodedPicture &picture) {
  heif.releaseImage(static_cast<heif_image *>(picture.owner));
  picture = {};
}

} // namespace

// clang-format off
extern const Library kLibheifLibrary = {
  "libheif",
  HeifReady, // readied
  HeifRead, HeifRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

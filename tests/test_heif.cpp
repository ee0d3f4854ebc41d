#include "test_heif.h"

#include <libheif/heif.h>

namespace {

// An HEIF of `width` x `height` pixels of `bits` (8, or 10 in 16-bit
// values), each `pixel`'s, coded as the colour box says: BT.2020's
// primaries and `transfer`.
bool writeHeif(const std::string &path, int width, int height, int bits,
               int transfer, const std::function<Rgb16(int, int)> &pixel) {
  heif_context *ctx = heif_context_alloc();
  heif_encoder *encoder = nullptr;
  heif_image *image = nullptr;
  heif_chroma chroma = bits > 8 ? heif_chroma_interleaved_RRGGBB_LE
                                : heif_chroma_interleaved_RGB;
  bool written =
      heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder)
              .code == heif_error_Ok &&
      heif_image_create(width, height, heif_colorspace_RGB, chroma, &image)
              .code == heif_error_Ok &&
      heif_image_add_plane(image, heif_channel_interleaved, width, height, bits)
              .code == heif_error_Ok;
  if (written) {
    int stride = 0;
    uint8_t *p = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) {
        Rgb16 c = pixel(x, y);
        uint16_t v[3] = {c.r, c.g, c.b};
        for (int i = 0; i < 3; i++)
          if (bits > 8) {
            p[y * stride + 6 * x + 2 * i] = uint8_t(v[i]);
            p[y * stride + 6 * x + 2 * i + 1] = uint8_t(v[i] >> 8);
          } else {
            p[y * stride + 3 * x + i] = uint8_t(v[i]);
          }
      }
    heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries_ITU_R_BT_2020_2_and_2100_0;
    nclx->transfer_characteristics = heif_transfer_characteristics(transfer);
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
    heif_encoder_set_lossy_quality(encoder, bits > 8 ? 100 : 95);
    heif_encoding_options *options = heif_encoding_options_alloc();
    options->macOS_compatibility_workaround_no_nclx_profile = 0;
    written =
        heif_context_encode_image(ctx, image, encoder, options, nullptr).code ==
            heif_error_Ok &&
        heif_context_write_to_file(ctx, path.c_str()).code == heif_error_Ok;
    heif_encoding_options_free(options);
  }
  if (image != nullptr)
    heif_image_release(image);
  if (encoder != nullptr)
    heif_encoder_release(encoder);
  heif_context_free(ctx);
  return written;
}

} // namespace

bool write_coded_heif(const std::string &path, const Quadrants &q,
                      int transfer) {
  const int size = 64;
  return writeHeif(path, size, size, 8, transfer, [&](int x, int y) {
    const Rgb &c = y < size / 2 ? (x < size / 2 ? q.topLeft : q.topRight)
                                : (x < size / 2 ? q.bottomLeft : q.bottomRight);
    return Rgb16{c.r, c.g, c.b};
  });
}

bool write_coded_heif_10bit(const std::string &path, int width, int height,
                            int transfer,
                            const std::function<Rgb16(int, int)> &pixel) {
  return writeHeif(path, width, height, 10, transfer, pixel);
}

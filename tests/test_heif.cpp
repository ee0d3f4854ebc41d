#include "test_heif.h"

#include <libheif/heif.h>

bool write_coded_heif(const std::string &path, const Quadrants &q,
                      int transfer) {
  const int size = 64;
  heif_context *ctx = heif_context_alloc();
  heif_encoder *encoder = nullptr;
  heif_image *image = nullptr;
  bool written =
      heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder)
              .code == heif_error_Ok &&
      heif_image_create(size, size, heif_colorspace_RGB,
                        heif_chroma_interleaved_RGB, &image)
              .code == heif_error_Ok &&
      heif_image_add_plane(image, heif_channel_interleaved, size, size, 8)
              .code == heif_error_Ok;
  if (written) {
    int stride = 0;
    uint8_t *p = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < size; y++)
      for (int x = 0; x < size; x++) {
        const Rgb &c = y < size / 2
                           ? (x < size / 2 ? q.topLeft : q.topRight)
                           : (x < size / 2 ? q.bottomLeft : q.bottomRight);
        uint8_t *px = p + y * stride + 3 * x;
        px[0] = c.r, px[1] = c.g, px[2] = c.b;
      }
    heif_color_profile_nclx *nclx = heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries_ITU_R_BT_2020_2_and_2100_0;
    nclx->transfer_characteristics = heif_transfer_characteristics(transfer);
    nclx->matrix_coefficients = heif_matrix_coefficients_ITU_R_BT_601_6;
    nclx->full_range_flag = 1;
    heif_image_set_nclx_color_profile(image, nclx);
    heif_nclx_color_profile_free(nclx);
    heif_encoder_set_lossy_quality(encoder, 95);
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

// b1.jpg a 24-megapixel camera RAW with a full-size preview, the same
// without one, and the preview itself as a JPEG; and an SVG drawing with
// text and gradients: exec to the viewer's first frame, beside the bundled
// pictures.
#include "drawings_and_raw.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "test_dng.h"
#include "test_pictures.h"
#include "viewer_process.h"

namespace {

// A drawing as drawing programs make them: gradients, a blur, shapes and
// a paragraph of text in three families.
std::string drawing() {
  std::string svg =
      "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 800 600'>"
      "<defs><linearGradient id='l'><stop offset='0' stop-color='#2a6'/>"
      "<stop offset='1' stop-color='#a26'/></linearGradient>"
      "<radialGradient id='r'><stop offset='0' stop-color='#ff8'/>"
      "<stop offset='1' stop-color='#f80' stop-opacity='0.3'/>"
      "</radialGradient><filter id='b'><feGaussianBlur stdDeviation='4'/>"
      "</filter></defs><rect width='800' height='600' fill='url(#l)'/>";
  for (int i = 0; i < 40; i++)
    svg += "<circle cx='" + std::to_string(20 * i) + "' cy='" +
           std::to_string(300 + 200 * ((i * 7) % 5 - 2) / 2) +
           "' r='60' fill='url(#r)' filter='url(#b)'/>";
  const char *families[] = {"sans-serif", "serif", "monospace"};
  for (int i = 0; i < 18; i++)
    svg += "<text x='20' y='" + std::to_string(40 + 30 * i) +
           "' font-size='22' font-family='" + families[i % 3] +
           "'>The quick brown fox jumps over the lazy dog " +
           std::to_string(i) + "</text>";
  return svg + "</svg>";
}

} // namespace

std::string DrawingAndRawRows(const std::string &viewer, int runs) {
  const int w = 6000, h = 4000;
  std::string jpegDir = make_temp_dir();
  write_jpeg(jpegDir + "/preview.jpg", w, h, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 7 ^ y * 3),
               static_cast<unsigned char>((x + y) / 40),
               static_cast<unsigned char>(y * 5 ^ x)};
  });
  std::string preview = read_file(jpegDir + "/preview.jpg");
  std::string jpeg = folderWithB1(preview);
  std::string withPreview =
      folderWithB1(dng_bytes(4900, {3000, 40000, 3000}, preview, 1));
  std::string rawOnly =
      folderWithB1(dng_bytes(4900, {3000, 40000, 3000}, "", 1));
  std::string svg = folderWithB1(drawing());
  std::string bundled = PICTURES_DIR;
  std::vector<double> b, j, p, r, s;
  for (int i = 0; i < runs; i++) {
    double t[5] = {firstFrameMs(viewer, bundled), firstFrameMs(viewer, jpeg),
                   firstFrameMs(viewer, withPreview),
                   firstFrameMs(viewer, rawOnly), firstFrameMs(viewer, svg)};
    if (*std::min_element(t, t + 5) < 0)
      return "";
    b.push_back(t[0]);
    j.push_back(t[1]);
    p.push_back(t[2]);
    r.push_back(t[3]);
    s.push_back(t[4]);
  }
  for (const std::string &dir : {jpegDir, jpeg, withPreview, rawOnly, svg})
    remove_tree(dir);
  char rows[1200];
  std::snprintf(
      rows, sizeof rows,
      "| b1.jpg a 24-megapixel camera RAW (DNG, a 4900 x 4900 mosaic) with a "
      "full-size JPEG preview, against that JPEG alone | %.0f ms | %.0f ms | "
      "%.2f |\n"
      "| the same RAW without a preview (half-size demosaic) | %.0f ms | "
      "%.0f ms | %.2f |\n"
      "| b1.jpg an SVG drawing with text in three families, gradients and "
      "blurs, against the bundled pictures | %.0f ms | %.0f ms | %+.0f ms |\n",
      median(p), median(j), median(p) / median(j), median(r), median(j),
      median(r) / median(j), median(s), median(b), median(s) - median(b));
  return rows;
}

#include "test_pictures.h"

#include <algorithm>

#include <cmath>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <jpeglib.h>
#include <lcms2.h>
#include <sstream>
#include <vector>
#include <zlib.h>

const std::array<Quadrants, 6> kFaceColours = {{
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}},
    {{255, 0, 255}, {0, 255, 255}, {128, 0, 0}, {0, 128, 0}},
    {{0, 0, 128}, {128, 128, 0}, {128, 0, 128}, {0, 128, 128}},
    {{128, 128, 128}, {255, 128, 0}, {255, 0, 128}, {128, 255, 0}},
    {{0, 255, 128}, {128, 0, 255}, {0, 128, 255}, {255, 255, 128}},
    {{255, 128, 255}, {128, 255, 255}, {255, 128, 128}, {128, 255, 128}},
}};

std::string make_temp_dir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/vorlix-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data()))
    std::abort();
  return buf.data();
}

void remove_tree(const std::string &dir) {
  if (dir.size() > 5)
    std::system(("rm -rf '" + dir + "'").c_str());
}

void write_bytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_quadrant_picture(const std::string &path, int width, int height,
                            const Quadrants &q) {
  std::string tga(18, '\0');
  tga[2] = 2; // uncompressed true colour
  tga[12] = char(width & 0xff);
  tga[13] = char(width >> 8);
  tga[14] = char(height & 0xff);
  tga[15] = char(height >> 8);
  tga[16] = 24;
  tga[17] = 0x20; // rows stored top row first
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      bool top = y < height / 2, left = x < width / 2;
      const Rgb &c = top ? (left ? q.topLeft : q.topRight)
                         : (left ? q.bottomLeft : q.bottomRight);
      tga += char(c.b);
      tga += char(c.g);
      tga += char(c.r);
    }
  }
  write_bytes(path, tga);
}

void write_face_pictures(const std::string &dir) {
  for (int i = 0; i < 6; i++)
    write_quadrant_picture(dir + "/b" + std::to_string(i + 1) + ".jpg", 64, 64,
                           kFaceColours[i]);
}

void write_solid_face_pictures(const std::string &dir) {
  for (int i = 0; i < 6; i++) {
    Rgb c = kFaceColours[i].topLeft;
    write_quadrant_picture(dir + "/b" + std::to_string(i + 1) + ".jpg", 32, 32,
                           {c, c, c, c});
  }
}

void write_profiles(const std::string &dir) {
  cmsCIExyY d65 = {0.3127, 0.3290, 1};
  cmsCIExyYTRIPLE p3 = {
      {0.680, 0.320, 1}, {0.265, 0.690, 1}, {0.150, 0.060, 1}};
  cmsCIExyYTRIPLE adobe = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
  cmsCIExyYTRIPLE srgb = {{0.64, 0.33, 1}, {0.30, 0.60, 1}, {0.15, 0.06, 1}};
  const cmsFloat64Number srgbCurve[5] = {2.4, 1 / 1.055, 0.055 / 1.055,
                                         1 / 12.92, 0.04045};
  cmsToneCurve *parametric = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
  cmsUInt16Number table[1024];
  for (int i = 0; i < 1024; i++)
    table[i] = cmsUInt16Number(
        cmsEvalToneCurveFloat(parametric, float(i) / 1023) * 65535 + 0.5f);
  struct {
    const char *file;
    cmsCIExyYTRIPLE *primaries;
    cmsToneCurve *curve;
  } rgb[] = {
      {"p3.icc", &p3, cmsDupToneCurve(parametric)},
      {"adobe.icc", &adobe, cmsBuildGamma(nullptr, 563.0 / 256)},
      {"srgb.icc", &srgb, cmsBuildTabulatedToneCurve16(nullptr, 1024, table)},
      {"gamma18.icc", &srgb, cmsBuildGamma(nullptr, 1.8)}};
  // HDR: BT.2020's primaries with PQ's curve (its white 10,000 cd/m²) and
  // with HLG's, as profiles made for HDR pictures have them.
  cmsCIExyYTRIPLE bt2020 = {
      {0.708, 0.292, 1}, {0.170, 0.797, 1}, {0.131, 0.046, 1}};
  std::vector<float> pq(4096), hlg(4096);
  for (int i = 0; i < 4096; i++) {
    double e = i / 4095.0, p = std::pow(e, 1 / 78.84375);
    pq[size_t(i)] = float(
        std::pow(std::max(p - 0.8359375, 0.0) / (18.8515625 - 18.6875 * p),
                 1 / 0.1593017578125));
    const double a = 0.17883277, b = 1 - 4 * a, c = 0.5 - a * std::log(4 * a);
    hlg[size_t(i)] =
        float(e <= 0.5 ? e * e / 3 : (std::exp((e - c) / a) + b) / 12);
  }
  struct {
    const char *file;
    cmsToneCurve *curve;
  } hdr[] = {
      {"pq2020.icc", cmsBuildTabulatedToneCurveFloat(nullptr, 4096, pq.data())},
      {"hlg2020.icc",
       cmsBuildTabulatedToneCurveFloat(nullptr, 4096, hlg.data())}};
  for (auto &h : hdr) {
    cmsToneCurve *curves[3] = {h.curve, h.curve, h.curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, &bt2020, curves);
    cmsSaveProfileToFile(p, (dir + "/" + h.file).c_str());
    cmsCloseProfile(p);
    cmsFreeToneCurve(h.curve);
  }
  for (auto &r : rgb) {
    cmsToneCurve *curves[3] = {r.curve, r.curve, r.curve};
    cmsHPROFILE p = cmsCreateRGBProfile(&d65, r.primaries, curves);
    cmsSaveProfileToFile(p, (dir + "/" + r.file).c_str());
    cmsCloseProfile(p);
    cmsFreeToneCurve(r.curve);
  }
  cmsFreeToneCurve(parametric);
  // CMYK: ink on white paper, cyan leaning to green.
  cmsHPROFILE cmyk = cmsCreateProfilePlaceholder(nullptr);
  cmsSetProfileVersion(cmyk, 4.3);
  cmsSetDeviceClass(cmyk, cmsSigOutputClass);
  cmsSetColorSpace(cmyk, cmsSigCmykData);
  cmsSetPCS(cmyk, cmsSigLabData);
  cmsPipeline *a2b = cmsPipelineAlloc(nullptr, 4, 3);
  cmsStage *grid = cmsStageAllocCLut16bit(nullptr, 9, 4, 3, nullptr);
  cmsHPROFILE lab = cmsCreateLab4Profile(nullptr), s = cmsCreate_sRGBProfile();
  cmsHTRANSFORM toLab = cmsCreateTransform(s, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                           INTENT_RELATIVE_COLORIMETRIC, 0);
  cmsStageSampleCLut16bit(
      grid,
      [](const cmsUInt16Number in[], cmsUInt16Number out[], void *t) {
        double c = in[0] / 65535.0, m = in[1] / 65535.0, y = in[2] / 65535.0,
               k = 1 - in[3] / 65535.0;
        double rgb[3] = {(1 - c) * k, (1 - 0.6 * m) * (1 - 0.3 * c) * k,
                         (1 - y) * k};
        cmsCIELab l;
        cmsDoTransform(t, rgb, &l, 1);
        cmsFloat2LabEncoded(out, &l);
        return 1;
      },
      toLab, 0);
  cmsPipelineInsertStage(a2b, cmsAT_END,
                         cmsStageAllocToneCurves(nullptr, 4, nullptr));
  cmsPipelineInsertStage(a2b, cmsAT_END, grid);
  cmsPipelineInsertStage(a2b, cmsAT_END,
                         cmsStageAllocToneCurves(nullptr, 3, nullptr));
  cmsWriteTag(cmyk, cmsSigAToB0Tag, a2b);
  cmsWriteTag(cmyk, cmsSigMediaWhitePointTag, cmsD50_XYZ());
  cmsSaveProfileToFile(cmyk, (dir + "/cmyk.icc").c_str());
  cmsPipelineFree(a2b);
  cmsDeleteTransform(toLab);
  for (cmsHPROFILE p : {cmyk, lab, s})
    cmsCloseProfile(p);
}

namespace {
// A baseline JPEG, RGB or (`inks`) CMYK.
void writeJpeg(const std::string &path, int width, int height,
               const std::function<Rgb(int x, int y)> &colour, bool inks) {
  FILE *out = std::fopen(path.c_str(), "wb");
  jpeg_compress_struct jpeg;
  jpeg_error_mgr errors;
  jpeg.err = jpeg_std_error(&errors);
  jpeg_create_compress(&jpeg);
  jpeg_stdio_dest(&jpeg, out);
  jpeg.image_width = JDIMENSION(width);
  jpeg.image_height = JDIMENSION(height);
  jpeg.input_components = inks ? 4 : 3;
  jpeg.in_color_space = inks ? JCS_CMYK : JCS_RGB;
  jpeg_set_defaults(&jpeg);
  jpeg_set_quality(&jpeg, 90, TRUE);
  jpeg.write_Adobe_marker = FALSE;
  jpeg_start_compress(&jpeg, TRUE);
  int n = jpeg.input_components;
  std::vector<unsigned char> row(size_t(width) * size_t(n));
  for (JSAMPROW r = row.data(); jpeg.next_scanline < jpeg.image_height;) {
    for (int x = 0; x < width; x++) {
      Rgb c = colour(x, int(jpeg.next_scanline));
      unsigned char *p = &row[size_t(n) * size_t(x)];
      p[0] = inks ? 255 - c.r : c.r;
      p[1] = inks ? 255 - c.g : c.g;
      p[2] = inks ? 255 - c.b : c.b;
      if (inks)
        p[3] = 0;
    }
    jpeg_write_scanlines(&jpeg, &r, 1);
  }
  jpeg_finish_compress(&jpeg);
  jpeg_destroy_compress(&jpeg);
  std::fclose(out);
}
} // namespace

void write_jpeg(const std::string &path, int width, int height,
                const std::function<Rgb(int x, int y)> &colour) {
  writeJpeg(path, width, height, colour, false);
}

void write_cmyk_jpeg(const std::string &path, int width, int height,
                     const std::function<Rgb(int x, int y)> &colour) {
  writeJpeg(path, width, height, colour, true);
}

void write_halves_jpeg(const std::string &path, int width, int height, Rgb left,
                       Rgb right) {
  write_jpeg(path, width, height,
             [&](int x, int) { return x < width / 2 ? left : right; });
}

void write_halves_png(const std::string &path, int width, int height, Rgb left,
                      Rgb right) {
  write_png(path, width, height,
            [&](int x, int) { return x < width / 2 ? left : right; });
}

void write_png(const std::string &path, int width, int height,
               const std::function<Rgb(int x, int y)> &colour) {
  std::ofstream out(path, std::ios::binary);
  auto chunk = [&](const char *type, const std::vector<unsigned char> &data) {
    unsigned char length[4] = {static_cast<unsigned char>(data.size() >> 24),
                               static_cast<unsigned char>(data.size() >> 16),
                               static_cast<unsigned char>(data.size() >> 8),
                               static_cast<unsigned char>(data.size())};
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    crc = crc32(crc, data.data(), uInt(data.size()));
    unsigned char sum[4] = {static_cast<unsigned char>(crc >> 24),
                            static_cast<unsigned char>(crc >> 16),
                            static_cast<unsigned char>(crc >> 8),
                            static_cast<unsigned char>(crc)};
    out.write(reinterpret_cast<const char *>(length), 4).write(type, 4);
    out.write(reinterpret_cast<const char *>(data.data()), long(data.size()));
    out.write(reinterpret_cast<const char *>(sum), 4);
  };
  out.write("\x89PNG\r\n\x1a\n", 8);
  std::vector<unsigned char> header = {static_cast<unsigned char>(width >> 24),
                                       static_cast<unsigned char>(width >> 16),
                                       static_cast<unsigned char>(width >> 8),
                                       static_cast<unsigned char>(width),
                                       static_cast<unsigned char>(height >> 24),
                                       static_cast<unsigned char>(height >> 16),
                                       static_cast<unsigned char>(height >> 8),
                                       static_cast<unsigned char>(height),
                                       8,
                                       2,
                                       0,
                                       0,
                                       0}; // 8 bits, RGB
  chunk("IHDR", header);
  std::vector<unsigned char> row(1 + size_t(width) * 3); // no filter
  std::vector<unsigned char> compressed(1 << 20);
  z_stream z = {};
  deflateInit(&z, 1);
  for (int y = 0; y <= height; y++) {
    for (int x = 0; y < height && x < width; x++) {
      Rgb c = colour(x, y);
      row[1 + 3 * size_t(x)] = c.r;
      row[2 + 3 * size_t(x)] = c.g;
      row[3 + 3 * size_t(x)] = c.b;
    }
    z.next_in = row.data();
    z.avail_in = y < height ? uInt(row.size()) : 0;
    do {
      z.next_out = compressed.data();
      z.avail_out = uInt(compressed.size());
      deflate(&z, y < height ? Z_NO_FLUSH : Z_FINISH);
      size_t made = compressed.size() - z.avail_out;
      if (made > 0)
        chunk("IDAT", {compressed.begin(), compressed.begin() + long(made)});
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  chunk("IEND", {});
}

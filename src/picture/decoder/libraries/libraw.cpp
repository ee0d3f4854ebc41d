// LibRaw, the reader for camera RAW photos, from the bytes the viewer
// opened (LibRaw opens no file). Loaded into a decoder only when one of its
// photos needs it. What it shows is the camera's own preview where the RAW
// holds one large enough (most hold a full-size JPEG), read as any JPEG is
// (libjpeg-turbo, decoded smaller for the screen) in its own colour profile
// and turned as the RAW says; else the raw data itself, demosaiced at half
// size, in sRGB. LibRaw's OpenMP threads are turned off: one decoder decodes
// one photo, and the decoders already share the cores.
#include <cstring>
#include <dlfcn.h>
#include <libraw/libraw.h>
#include <new>

#include "picture/decoder/libraries/library.h"
#include "picture/decoder/pixels/metadata.h"
#include "picture/kind_headers.h"

namespace {

struct Libraw {
  decltype(&libraw_init) init;
  decltype(&libraw_open_buffer) openBuffer;
  decltype(&libraw_unpack_thumb) unpackThumb;
  decltype(&libraw_unpack) unpack;
  decltype(&libraw_dcraw_process) process;
  decltype(&libraw_dcraw_make_mem_image) makeImage;
  decltype(&libraw_dcraw_clear_mem) clearImage;
  decltype(&libraw_close) close;
} lr;

// One photo's reading, freed when it is released: LibRaw's, and the preview
// as libjpeg-turbo read it, or the demosaiced picture.
struct Reading {
  libraw_data_t *raw = nullptr;
  DecodedPicture preview;
  PictureMetadata previewMetadata;
  libraw_processed_image_t *image = nullptr;
};

void finish(Reading *r) {
  if (r->preview.owner != nullptr)
    kLibraries[kLibjpeg]->release(r->preview);
  ReleaseMetadata(r->previewMetadata);
  if (r->image != nullptr)
    lr.clearImage(r->image);
  if (r->raw != nullptr)
    lr.close(r->raw);
  delete r;
}

// LibRaw's flip (dcraw's) as an EXIF Orientation: 3 upside down, 5 a
// quarter turn counter-clockwise, 6 clockwise; the others mirrored.
int orientationOfFlip(int flip) {
  static const int kOrientations[8] = {1, 2, 4, 3, 5, 8, 6, 7};
  return kOrientations[flip & 7];
}

// The preview, where it is a JPEG whose longer side reaches half the size
// the screen shows a picture at (or half the raw data's, for a photo shown
// smaller than that): read, in its colours, turned by `flip`.
bool readPreview(Reading &r, ShownSize shown, DecodedPicture &out) {
  const libraw_thumbnail_t &t = r.raw->thumbnail;
  if (lr.unpackThumb(r.raw) != LIBRAW_SUCCESS ||
      t.tformat != LIBRAW_THUMBNAIL_JPEG || t.thumb == nullptr ||
      t.tlength == 0)
    return false;
  const auto *jpeg = reinterpret_cast<const unsigned char *>(t.thumb);
  ByteSource preview{-1, jpeg, t.tlength};
  PictureSize size = JpegSize(preview);
  uint64_t longer = std::max(size.width, size.height);
  uint64_t rawLonger = std::max(r.raw->sizes.width, r.raw->sizes.height);
  uint64_t wanted =
      shown.keepSide > 0
          ? std::min<uint64_t>(uint64_t(shown.keepSide), rawLonger)
          : rawLonger;
  if (longer == 0 || 2 * longer < wanted ||
      !kLibraries[kLibjpeg]->read(jpeg, t.tlength, 0, shown, r.preview))
    return false;
  r.previewMetadata = ReadMetadata(MetadataIn::JpegSegments, preview);
  out = r.preview;
  out.owner = nullptr;
  out.orientation = orientationOfFlip(r.raw->sizes.flip);
  if (r.previewMetadata.colours.source == ColourDescription::kIcc) {
    out.icc = r.previewMetadata.colours.icc;
    out.iccSize = r.previewMetadata.colours.iccSize;
  }
  return true;
}

// The raw data demosaiced at half size (each 2 x 2 block of the sensor one
// pixel), white-balanced as the camera was, in sRGB, turned already.
bool readRawData(Reading &r, DecodedPicture &out) {
  r.raw->params.half_size = 1;
  r.raw->params.use_camera_wb = 1;
  r.raw->params.output_bps = 8;
  int error = 0;
  if (lr.unpack(r.raw) != LIBRAW_SUCCESS ||
      lr.process(r.raw) != LIBRAW_SUCCESS ||
      (r.image = lr.makeImage(r.raw, &error)) == nullptr)
    return false;
  const libraw_processed_image_t &i = *r.image;
  if (i.type != LIBRAW_IMAGE_BITMAP || i.bits != 8 ||
      (i.colors != 1 && i.colors != 3) ||
      i.data_size != unsigned(i.width) * i.height * i.colors)
    return false;
  out.pixels = i.data;
  out.width = i.width;
  out.height = i.height;
  out.channels = i.colors;
  out.stride = size_t(i.width) * i.colors;
  out.orientation = 1;
  return true;
}

unsigned LibrawReady(unsigned kinds) {
  void *lib = dlopen(VORLIX_LIBRAW_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  void (*threads)(int) = nullptr;
  bool found = lib != nullptr && FindCall(lib, "libraw_init", lr.init) &&
               FindCall(lib, "libraw_open_buffer", lr.openBuffer) &&
               FindCall(lib, "libraw_unpack_thumb", lr.unpackThumb) &&
               FindCall(lib, "libraw_unpack", lr.unpack) &&
               FindCall(lib, "libraw_dcraw_process", lr.process) &&
               FindCall(lib, "libraw_dcraw_make_mem_image", lr.makeImage) &&
               FindCall(lib, "libraw_dcraw_clear_mem", lr.clearImage) &&
               FindCall(lib, "libraw_close", lr.close);
  if (!found)
    return 0;
  // One thread: no OpenMP workers to start (and set up) in the sandbox.
  if (FindCall(lib, "omp_set_num_threads", threads))
    threads(1);
  return kinds;
}

bool LibrawRead(const unsigned char *file, size_t size, int, ShownSize shown,
                DecodedPicture &out) {
  auto *r = new (std::nothrow) Reading;
  if (r == nullptr)
    return false;
  r->raw = lr.init(0);
  bool read = r->raw != nullptr &&
              lr.openBuffer(r->raw, const_cast<unsigned char *>(file), size) ==
                  LIBRAW_SUCCESS &&
              (readPreview(*r, shown, out) || readRawData(*r, out));
  if (!read) {
    finish(r);
    out = {};
    return false;
  }
  out.owner = r;
  return true;
}

void LibrawRelease(DecodedPicture &picture) {
  finish(static_cast<Reading *>(picture.owner));
  picture = {};
}

} // namespace

// clang-format off
extern const Library kLibrawLibrary = {
  "LibRaw",
  LibrawReady, // readied
  LibrawRead, LibrawRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

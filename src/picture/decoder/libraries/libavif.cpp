// libavif, opened only in the decoders of AVIF pictures (it brings its
// codecs) before the sandbox goes on: the reader of HDR stills, which it
// hands over at 16 bits, their colours as coded (GdkPixbuf's loader reads
// them at 8 and keeps no transfer), and the animator of image sequences.
// Each frame is a whole picture: decoded, then turned as its irot property
// says (an EXIF orientation for the hand-over).
#include <avif/avif.h>
#include <cmath>
#include <dlfcn.h>

#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Avif {
  decltype(&avifDecoderCreate) create;
  decltype(&avifDecoderDestroy) destroy;
  decltype(&avifDecoderSetIOMemory) setIo;
  decltype(&avifDecoderParse) parse;
  decltype(&avifDecoderNextImage) next;
  decltype(&avifRGBImageSetDefaults) rgbDefaults;
  decltype(&avifRGBImageAllocatePixels) allocate;
  decltype(&avifRGBImageFreePixels) free;
  decltype(&avifImageYUVToRGB) toRgb;
} avif;

struct Sequence {
  avifDecoder *decoder = nullptr;
  avifRGBImage rgb = {};
};

// The decoder for a file, parsed; null where it is no AVIF.
avifDecoder *parsed(const unsigned char *file, size_t size) {
  avifDecoder *d = avif.create();
  if (d == nullptr)
    return nullptr;
  d->maxThreads = 1;
  if (avif.setIo(d, file, size) == AVIF_RESULT_OK &&
      avif.parse(d) == AVIF_RESULT_OK &&
      FitsInSlot(d->image->width, d->image->height, 4))
    return d;
  avif.destroy(d);
  return nullptr;
}

// irot's turn, counter-clockwise in quarters, as an EXIF orientation.
int orientationOf(const avifImage *image) {
  if (!(image->transformFlags & AVIF_TRANSFORM_IROT))
    return 1;
  const int byQuarters[] = {1, 8, 3, 6};
  return byQuarters[image->irot.angle & 3];
}

unsigned AvifReady(unsigned kinds) {
  void *lib = dlopen(VORLIX_AVIF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  bool found = lib != nullptr &&
               FindCall(lib, "avifDecoderCreate", avif.create) &&
               FindCall(lib, "avifDecoderDestroy", avif.destroy) &&
               FindCall(lib, "avifDecoderSetIOMemory", avif.setIo) &&
               FindCall(lib, "avifDecoderParse", avif.parse) &&
               FindCall(lib, "avifDecoderNextImage", avif.next) &&
               FindCall(lib, "avifRGBImageSetDefaults", avif.rgbDefaults) &&
               FindCall(lib, "avifRGBImageAllocatePixels", avif.allocate) &&
               FindCall(lib, "avifRGBImageFreePixels", avif.free) &&
               FindCall(lib, "avifImageYUVToRGB", avif.toRgb);
  return found ? kinds : 0;
}

bool AvifMoving(const unsigned char *file, size_t size) {
  avifDecoder *d = parsed(file, size);
  bool moving = d != nullptr && d->imageCount > 1;
  if (d != nullptr)
    avif.destroy(d);
  return moving;
}

// How often it is played: libavif 1.0 reads the repetitions an edit list
// gives; before, it can't tell, and the sequence plays for ever.
void *AvifOpen(const unsigned char *file, size_t size, int &plays) {
  auto *s = new Sequence;
  s->decoder = parsed(file, size);
  if (s->decoder == nullptr) {
    delete s;
    return nullptr;
  }
  plays = 0;
#if AVIF_VERSION_MAJOR >= 1
  int repetitions = s->decoder->repetitionCount;
  if (repetitions >= 0 && repetitions < (1 << 30))
    plays = repetitions + 1;
#endif
  return s;
}

bool AvifNext(void *animation, DecodedPicture &frame, int &delayMs) {
  Sequence &s = *static_cast<Sequence *>(animation);
  if (avif.next(s.decoder) != AVIF_RESULT_OK)
    return false;
  const avifImage *image = s.decoder->image;
  if (s.rgb.pixels != nullptr &&
      (s.rgb.width != image->width || s.rgb.height != image->height)) {
    avif.free(&s.rgb);
    s.rgb.pixels = nullptr;
  }
  if (s.rgb.pixels == nullptr) {
    avif.rgbDefaults(&s.rgb, image);
    s.rgb.format = AVIF_RGB_FORMAT_RGBA;
    s.rgb.depth = 8;
    avif.allocate(&s.rgb);
  }
  if (s.rgb.pixels == nullptr || avif.toRgb(image, &s.rgb) != AVIF_RESULT_OK)
    return false;
  double seconds = s.decoder->imageTiming.duration;
  delayMs = std::isfinite(seconds) && seconds > 0 && seconds < 1e6
                ? int(std::lround(seconds * 1000))
                : 0;
  frame = {};
  frame.pixels = s.rgb.pixels;
  frame.width = int(image->width);
  frame.height = int(image->height);
  frame.channels = 4;
  frame.stride = s.rgb.rowBytes;
  frame.orientation = orientationOf(image);
  return true;
}

void AvifClose(void *animation) {
  auto *s = static_cast<Sequence *>(animation);
  if (s->rgb.pixels != nullptr)
    avif.free(&s->rgb);
  if (s->decoder != nullptr)
    avif.destroy(s->decoder);
  delete s;
}

bool isHdr(const avifImage *image) {
  return image->transferCharacteristics ==
             AVIF_TRANSFER_CHARACTERISTICS_SMPTE2084 ||
         image->transferCharacteristics == AVIF_TRANSFER_CHARACTERISTICS_HLG;
}

// A still, its first image: an HDR one without alpha at 16 bits (of its
// 10 or 12), its colours as coded; any other at 8, with its profile.
bool AvifRead(const unsigned char *file, size_t size, int, ShownSize,
              DecodedPicture &out) {
  int plays = 0;
  auto *s = static_cast<Sequence *>(AvifOpen(file, size, plays));
  if (s == nullptr)
    return false;
  const avifImage *image = nullptr;
  if (avif.next(s->decoder) == AVIF_RESULT_OK) {
    image = s->decoder->image;
    bool alpha = image->alphaPlane != nullptr;
    avif.rgbDefaults(&s->rgb, image);
    s->rgb.format = alpha ? AVIF_RGB_FORMAT_RGBA : AVIF_RGB_FORMAT_RGB;
    s->rgb.depth = isHdr(image) && !alpha && image->depth > 8 ? 16 : 8;
    avif.allocate(&s->rgb);
  }
  if (image == nullptr || s->rgb.pixels == nullptr ||
      avif.toRgb(image, &s->rgb) != AVIF_RESULT_OK) {
    AvifClose(s);
    return false;
  }
  out.pixels = s->rgb.pixels;
  out.width = int(image->width);
  out.height = int(image->height);
  out.channels = s->rgb.format == AVIF_RGB_FORMAT_RGBA ? 4 : 3;
  out.stride = s->rgb.rowBytes;
  out.bits = int(s->rgb.depth);
  out.orientation = orientationOf(image);
  if (isHdr(image)) {
    out.codedPrimaries = int(image->colorPrimaries);
    out.codedTransfer = int(image->transferCharacteristics);
  } else if (image->icc.size > 0) {
    out.icc = image->icc.data;
    out.iccSize = image->icc.size;
  }
  out.owner = s;
  return true;
}

void AvifRelease(DecodedPicture &picture) {
  AvifClose(picture.owner);
}

} // namespace

// clang-format off
extern const Library kLibavifLibrary = {
  "libavif",
  AvifReady, // readied
  AvifRead, AvifRelease, // its reader
  WhereItMoves, AvifMoving, AvifOpen, AvifNext, AvifClose, // its animator
};
// clang-format on

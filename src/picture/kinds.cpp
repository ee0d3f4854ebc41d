#include "picture/kinds.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

#include "picture/kind_contents.h"
#include "picture/kind_headers.h"
#include "picture/libraries.h"

namespace {

bool startsWith(const unsigned char *head, const char *signature) {
  return !std::memcmp(head, signature, std::strlen(signature));
}

// Signatures.

bool isJpeg(const unsigned char *h) {
  return h[0] == 0xff && h[1] == 0xd8;
}
bool isPng(const unsigned char *h) {
  return startsWith(h, "\x89PNG");
}
bool isGif(const unsigned char *h) {
  return startsWith(h, "GIF8");
}
bool isBmp(const unsigned char *h) {
  return startsWith(h, "BM");
}
bool isPsd(const unsigned char *h) {
  return startsWith(h, "8BPS");
}
bool isDds(const unsigned char *h) {
  return startsWith(h, "DDS ");
}
bool isHdr(const unsigned char *h) {
  return startsWith(h, "#?");
}
bool isTiff(const unsigned char *h) {
  return !std::memcmp(h, "II*\0", 4) || !std::memcmp(h, "MM\0*", 4);
}
bool isWebp(const unsigned char *h) {
  return startsWith(h, "RIFF") && startsWith(h + 8, "WEBP");
}
bool isAvif(const unsigned char *h) {
  return startsWith(h + 4, "ftypavi");
}
// HEIF's brands (an MP4 video has others, and is no picture).
bool isHeif(const unsigned char *h) {
  const char *brands[] = {"heic", "heix", "heim", "heis", "hevc",
                          "hevx", "mif1", "msf1", "mif2"};
  bool heif = false;
  for (const char *brand : brands)
    heif = heif || startsWith(h + 8, brand);
  return startsWith(h + 4, "ftyp") && heif;
}
// JPEG XL: a bare codestream, or its container (a box named "JXL ").
bool isJxl(const unsigned char *h) {
  return (h[0] == 0xff && h[1] == 0x0a) ||
         !std::memcmp(h, "\0\0\0\x0cJXL \r\n\x87\n", 12);
}
// TGA has no signature, but a header that only takes some values: a colour
// map or none, an image type (colour-mapped, true colour or grey, plain or
// run-length), a size, and a depth.
bool isTga(const unsigned char *h) {
  int type = h[2], depth = h[16];
  return h[1] <= 1 &&
         (type == 1 || type == 2 || type == 3 || type == 9 || type == 10 ||
          type == 11) &&
         Le16(h + 12) > 0 && Le16(h + 14) > 0 &&
         (depth == 8 || depth == 15 || depth == 16 || depth == 24 ||
          depth == 32);
}

// Camera RAW photos: those whose makers gave them a signature of their own
// (Fujifilm's RAF, Olympus's ORF, Panasonic's RW2, Canon's CR3 and CRW,
// Minolta's MRW), and those that are TIFF files underneath (DNG, CR2, NEF,
// ARW, PEF ...), told from other TIFF files by their first directory.
bool isCameraRaw(const unsigned char *h) {
  return startsWith(h, "FUJIFILMCCD-RAW") || startsWith(h, "IIRO") ||
         startsWith(h, "IIRS") || startsWith(h, "MMOR") ||
         !std::memcmp(h, "IIU\0", 4) || startsWith(h + 4, "ftypcrx ") ||
         (startsWith(h, "II") && startsWith(h + 6, "HEAPCCDR")) ||
         !std::memcmp(h, "\0MRM", 4) || isTiff(h);
}
bool holdsCameraRaw(const ByteSource &file) {
  unsigned char head[4];
  ReadHeader(file, 0, head, sizeof head);
  return !isTiff(head) || HoldsCameraRaw(file);
}
// SVG: XML (after white space, or UTF-8's byte order mark), whose root
// element is <svg>; or gzip, as an .svgz is (a decoder unpacks it).
bool isGzip(const unsigned char *h) {
  return startsWith(h, "\x1f\x8b\x08");
}
bool isMarkup(const unsigned char *h) {
  int i = startsWith(h, "\xef\xbb\xbf") ? 3 : 0;
  while (i < kHeadBytes - 1 && std::isspace(h[i]))
    i++;
  return h[i] == '<';
}
bool isSvg(const unsigned char *h) {
  return isGzip(h) || isMarkup(h);
}
bool holdsSvg(const ByteSource &file) {
  unsigned char head[4];
  ReadHeader(file, 0, head, sizeof head);
  return isGzip(head) || HoldsSvgDrawing(file);
}

// Clips. ISO BMFF (MP4, MOV, M4V) shares its ftyp box with HEIF, AVIF and
// CR3, whose rows come first; an old MOV has no ftyp, and starts with one
// of QuickTime's own boxes.
bool isIsoClip(const unsigned char *h) {
  const char *quickTime[] = {"moov", "mdat", "wide", "free", "skip", "pnot"};
  bool movBox = false;
  for (const char *box : quickTime)
    movBox = movBox || startsWith(h + 4, box);
  return startsWith(h + 4, "ftyp") || (movBox && Be32(h) != 0);
}
// Matroska and WebM: an EBML header.
bool isEbml(const unsigned char *h) {
  return startsWith(h, "\x1a\x45\xdf\xa3");
}
// AVI: a RIFF file of the AVI form (WebP's RIFF is a picture).
bool isAvi(const unsigned char *h) {
  return startsWith(h, "RIFF") && startsWith(h + 8, "AVI ");
}
// MPEG-TS: 188-byte packets, each starting with 0x47; M2TS puts a 4-byte
// time code before each, in 192 bytes. One sync byte is no signature: the
// first packets must all have theirs (at least three, five where the file
// is that long).
bool isTs(const unsigned char *h) {
  return h[0] == 0x47 || h[4] == 0x47;
}
bool holdsTs(const ByteSource &file) {
  for (uint64_t stride : {188, 192}) {
    uint64_t first = stride - 188, packets = 0;
    for (; packets < 5 && first + stride * (packets + 1) <= file.size;
         packets++) {
      unsigned char sync = 0;
      ReadHeader(file, first + stride * packets, &sync, 1);
      if (sync != 0x47)
        break;
    }
    bool allThere = packets == 5 || first + stride * (packets + 1) > file.size;
    if (packets >= 3 && allThere)
      return true;
  }
  return false;
}

constexpr uint32_t kSoilOnly = kReadWithSoil;
constexpr uint32_t kPixbufOnly = kReadWithPixbuf;
constexpr uint32_t kSoilThenLibjpeg = kReadWithSoil | kReadWithLibjpeg;
constexpr uint32_t kSoilThenPixbuf = kReadWithSoil | kReadWithPixbuf;
// HDR ones first by the libraries that read them deeper (libraries.h).
constexpr uint32_t kPngReaders = kSoilThenPixbuf | kReadWithLibpng;
constexpr uint32_t kAvifReaders = kReadWithPixbuf | kReadWithLibavif;
constexpr uint32_t kHeifReaders = kReadWithPixbuf | kReadWithLibheif;
constexpr uint32_t kJxlOnly = kReadWithJxl;
constexpr uint32_t kRsvgOnly = kReadWithRsvg;
constexpr uint32_t kLibrawOnly = kReadWithLibraw;
constexpr uint32_t kGiflibOnly = kReadWithGiflib;
constexpr uint32_t kFfmpegOnly = kReadWithFfmpeg;

using M = MetadataIn;

} // namespace

// Pixels per byte: JPEG a 1-bit code a block, and runs in progressive ones;
// PNG and TIFF deflate's 1032:1 at 1 bit a pixel; GIF LZW's longest strings;
// BMP RLE8, 255 pixels in 2 bytes; PSD PackBits, 128 bytes in 2, per
// channel; DDS DXT1, 16 pixels in 8 bytes; HDR and TGA run-length per
// channel; WebP lossless, HEVC and AV1 can hold huge plain areas.
// Nanoseconds per pixel: JPEG 43 with SOIL (libjpeg-turbo takes 12 for a
// progressive or CMYK one; 50, what GdkPixbuf took for those, is kept);
// GIF 354; HEIF 172 and JPEG XL about 80, over all their threads.
// Metadata: JPEG, PNG and WebP are turned by their EXIF Orientation, as
// browsers show them; TIFF by its own tag, which GdkPixbuf's loader applies
// (libtiff doing part of it); HEIF and AVIF by their own transforms, which
// libheif and libavif apply (an EXIF Orientation in them is to be ignored).
// JPEG XL is turned by libjxl, which also describes its colours. Their
// colours: from their metadata, but for TIFF's ICC profile, which GdkPixbuf
// hands over.
// clang-format off
const PictureKind kPictureKinds[] = {
  // name   endings               signature     contents         declared size readers        SOIL's channels, unused alpha  GdkPixbuf  turns  metadata         px/byte ns/px  played by
  // A JPEG moves where it is a Motion Photo, a clip inside it.
  {"JPEG", ".jpg .jpeg .jpe ",    isJpeg,       nullptr,         JpegSize,   kSoilThenLibjpeg, JpegChannels, false,  nullptr,     false, M::JpegSegments, 4096,  50, kPlayWithFfmpeg},
  {"PNG",  ".png ",               isPng,        nullptr,         PngSize,    kPngReaders,      PngChannels,  false,  "png",       false, M::PngChunks,    8300,  30, kPlayWithLibpng},
  {"GIF",  ".gif ",               isGif,        nullptr,         GifSize,    kGiflibOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,      4096, 360, kPlayWithGiflib},
  {"BMP",  ".bmp ",               isBmp,        nullptr,         BmpSize,    kSoilThenPixbuf,  BmpChannels,  true,   "bmp",       false, M::Nowhere,       128,  15},
  // SOIL's PSD reader always returns four channels but reports the file's:
  // asking for a count keeps the two the same.
  {"PSD",  ".psd ",               isPsd,        nullptr,         PsdSize,    kSoilOnly,        PsdChannels,  false,  nullptr,     false, M::Nowhere,        64,  15},
  {"DDS",  ".dds ",               isDds,        nullptr,         DdsSize,    kSoilOnly,        DdsChannels,  false,  nullptr,     false, M::Nowhere,         2,  15},
  {"HDR",  ".hdr ",               isHdr,        nullptr,         nullptr,    kSoilOnly,        HdrChannels,  false,  nullptr,     false, M::Nowhere,        64, 100},
  // RAW photos ahead of TIFF: many are TIFF files underneath.
  {"camera RAW", ".dng .cr2 .cr3 .crw .nef .nrw .arw .srf .sr2 .raf .orf .rw2 .rwl .pef .srw .mrw .3fr .fff .iiq .erf .kdc .dcr .mos .mef ",
                                  isCameraRaw,  holdsCameraRaw,  nullptr,    kLibrawOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,         2,  40},
  {"TIFF", ".tif .tiff ",         isTiff,       nullptr,         nullptr,    kPixbufOnly,      nullptr,      false,  "tiff",      true,  M::Nowhere,      8300,  30},
  {"WebP", ".webp ",              isWebp,       nullptr,         WebpSize,   kPixbufOnly,      nullptr,      false,  "webp",      false, M::RiffChunks,    1e6,  80, kPlayWithLibwebp},
  {"HEIF", ".heic .heif ",        isHeif,       nullptr,         IspeSize,   kHeifReaders,     nullptr,      false,  "heif/avif", false, M::IsoBoxes,      1e6, 180},
  {"AVIF", ".avif ",              isAvif,       nullptr,         IspeSize,   kAvifReaders,     nullptr,      false,  "avif",      false, M::IsoBoxes,      1e6, 110, kPlayWithLibavif},
  {"JPEG XL", ".jxl ",            isJxl,        nullptr,         JxlSize,    kJxlOnly,         nullptr,      false,  nullptr,     false, M::Nowhere,       1e6, 100, kPlayWithJxl},
  {"SVG",  ".svg .svgz ",         isSvg,        holdsSvg,        nullptr,    kRsvgOnly,        nullptr,      false,  nullptr,     false, M::Nowhere,         0,   0},
  // Clips: their first frame their still, played by FFmpeg, turned and in
  // their colours as their streams say.
  {"MP4/MOV", ".mp4 .m4v .mov ",  isIsoClip,    nullptr,         nullptr,    kFfmpegOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,       1e6,  20, kPlayWithFfmpeg},
  {"Matroska/WebM", ".mkv .webm ", isEbml,      nullptr,         nullptr,    kFfmpegOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,       1e6,  20, kPlayWithFfmpeg},
  {"AVI",  ".avi ",               isAvi,        nullptr,         nullptr,    kFfmpegOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,       1e6,  20, kPlayWithFfmpeg},
  {"MPEG-TS", ".mts .m2ts ",      isTs,         holdsTs,         nullptr,    kFfmpegOnly,      nullptr,      false,  nullptr,     false, M::Nowhere,       1e6,  20, kPlayWithFfmpeg},
  {"TGA",  ".tga ",               isTga,        nullptr,         nullptr,    kSoilOnly,        TgaChannels,  true,   nullptr,     false, M::Nowhere,        64, 100},
};
// clang-format on

const int kPictureKindCount = int(sizeof kPictureKinds / sizeof *kPictureKinds);
static_assert(sizeof kPictureKinds / sizeof *kPictureKinds <= 32,
              "kinds are named in 32-bit masks");

int PictureKindOf(const ByteSource &file) {
  unsigned char head[kHeadBytes];
  ReadHeader(file, 0, head, sizeof head);
  for (int kind = 0; kind < kPictureKindCount; kind++)
    if (kPictureKinds[kind].matches(head) &&
        (kPictureKinds[kind].holds == nullptr ||
         kPictureKinds[kind].holds(file)))
      return kind;
  return kNotAPicture;
}

int KindNamed(const char *name) {
  size_t n = std::strlen(name);
  for (int kind = 0; kind < kPictureKindCount; kind++) {
    for (const char *e = kPictureKinds[kind].endings; *e != '\0';) {
      size_t length = size_t(std::strchr(e, ' ') - e);
      if (n > length && !strncasecmp(name + n - length, e, length))
        return kind;
      e += length + 1;
    }
  }
  return kNotAPicture;
}

bool IsClip(int kind) {
  return kind >= 0 && kind < kPictureKindCount &&
         kPictureKinds[kind].readers == kReadWithFfmpeg;
}

bool MayHoldAClip(int kind) {
  return kind >= 0 && kind < kPictureKindCount && !IsClip(kind) &&
         kPictureKinds[kind].playedBy == kPlayWithFfmpeg;
}

bool NamedLikeAPicture(const char *name) {
  return KindNamed(name) != kNotAPicture;
}

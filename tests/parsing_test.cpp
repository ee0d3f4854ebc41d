// The byte parsing done on untrusted files, on bytes written here (no GL, no
// picture tools): which kind a file is, the size its header declares, which
// way up its EXIF says it is shown; and the launcher's order of names, its
// walk through a library of folders and its watch over it, the show's
// place it keeps and the news it sends the viewer.
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "launcher/choose_pictures.h"
#include "launcher/library_walk.h"
#include "launcher/photo_frame/screen_schedule.h"
#include "launcher/running_show.h"
#include "launcher/show_place.h"
#include "picture/decoder/libraries/motion_photo.h"
#include "picture/decoder/pixels/hdr.h"
#include "picture/decoder/pixels/metadata.h"
#include "picture/kind_contents.h"
#include "picture/kinds.h"
#include "picture/live_photos.h"
#include "picture/viewer/decoders/clock.h"
#include "show/show_list.h"

namespace {

std::string operator""_b(const char *s, size_t n) {
  return std::string(s, n);
}

ByteSource of(const std::string &file) {
  return {-1, reinterpret_cast<const unsigned char *>(file.data()),
          file.size()};
}

std::string kindOf(const std::string &file) {
  int kind = PictureKindOf(of(file));
  return kind == kNotAPicture ? "not a picture" : kPictureKinds[kind].name;
}

std::string be16(unsigned v) {
  return {char(v >> 8), char(v)};
}
std::string be32(unsigned v) {
  return be16(v >> 16) + be16(v & 0xffff);
}
std::string le16(unsigned v) {
  return {char(v), char(v >> 8)};
}
std::string le32(unsigned v) {
  return le16(v & 0xffff) + le16(v >> 16);
}

// A JPEG segment: marker, length, content.
std::string segment(int marker, const std::string &content) {
  return "\xff"_b + char(marker) + be16(unsigned(content.size()) + 2) + content;
}
// A PNG chunk or a RIFF chunk (without a CRC check either way).
std::string pngChunk(const char *type, const std::string &data) {
  return be32(unsigned(data.size())) + type + data + "CRC!";
}
std::string riffChunk(const char *type, const std::string &data) {
  return type + le32(unsigned(data.size())) + data +
         (data.size() % 2 ? "\0"_b : "");
}

// EXIF data (TIFF structure) with one Orientation entry: its type and
// count, and a directory that claims `entries` entries.
std::string exif(bool littleEndian, unsigned orientation, unsigned type = 3,
                 unsigned entries = 1) {
  auto u16 = littleEndian ? le16 : be16;
  auto u32 = littleEndian ? le32 : be32;
  return (littleEndian ? "II" : "MM") + u16(42) + u32(8) + u16(entries) +
         u16(0x0112) + u16(type) + u32(1) + u16(orientation) + u16(0) + u32(0);
}

// MPEG-TS packets of `stride` bytes (188, or 192 with M2TS's time code
// before each), each starting with its sync byte.
std::string tsPackets(int stride, int count) {
  std::string packets;
  for (int i = 0; i < count; i++) {
    std::string packet(size_t(stride), '\xff');
    packet[size_t(stride - 188)] = 0x47;
    packets += packet;
  }
  return packets;
}

struct Bytes {
  const char *name;
  std::string file;
  std::string expected;
};

void PrintTo(const Bytes &b, std::ostream *os) {
  *os << b.name;
}

std::string nameOf(const ::testing::TestParamInfo<Bytes> &info) {
  return info.param.name;
}

// A little-endian TIFF whose first directory holds one entry: a tag with
// an ASCII value (past the directory where longer than 4 bytes) or, for
// DNGVersion, four bytes.
std::string tiffWith(unsigned tag, const std::string &value) {
  bool ascii = tag != 0xc612;
  std::string inEntry = value.size() <= 4 ? value : le32(26);
  inEntry.resize(4, '\0');
  return "II*\0"_b + le32(8) + le16(1) + le16(tag) + le16(ascii ? 2 : 1) +
         le32(unsigned(value.size())) + inEntry + le32(0) +
         (value.size() > 4 ? value : "");
}

class SignatureTest : public ::testing::TestWithParam<Bytes> {};

// The kinds code names by id are the rows of those names.
TEST(KindIds, EachTheRowOfItsName) {
  EXPECT_STREQ("JPEG", kPictureKinds[kJpegKind].name);
  EXPECT_STREQ("PNG", kPictureKinds[kPngKind].name);
  EXPECT_STREQ("HEIF", kPictureKinds[kHeifKind].name);
  EXPECT_STREQ("AVIF", kPictureKinds[kAvifKind].name);
  EXPECT_STREQ("JPEG XL", kPictureKinds[kJxlKind].name);
  EXPECT_STREQ("camera RAW", kPictureKinds[kCameraRawKind].name);
  EXPECT_STREQ("MP4/MOV", kPictureKinds[kMp4Kind].name);
  EXPECT_STREQ("Matroska/WebM", kPictureKinds[kMatroskaKind].name);
  EXPECT_STREQ("AVI", kPictureKinds[kAviKind].name);
  EXPECT_STREQ("MPEG-TS", kPictureKinds[kMpegTsKind].name);
}

TEST_P(SignatureTest, TellsTheKind) {
  EXPECT_EQ(GetParam().expected, kindOf(GetParam().file));
}

const std::string kOther = "not a picture";

// Each kind's signature, and a near miss of it.
INSTANTIATE_TEST_SUITE_P(
    Kinds, SignatureTest,
    ::testing::Values(
        Bytes{"Jpeg", "\xff\xd8\xff\xe0"_b, "JPEG"},
        Bytes{"JpegXlCodestream", "\xff\x0a\xfa"_b, "JPEG XL"},
        Bytes{"JpegXlContainer", "\0\0\0\x0cJXL \r\n\x87\n"_b, "JPEG XL"},
        Bytes{"JpegXlNearMiss", "\xff\x0b\xfa"_b, kOther},
        Bytes{"TgaWithLongId",
              "\xff\x00\x02"_b + std::string(9, '\0') + le16(4) + le16(4) +
                  "\x18\x20"_b + std::string(255, 'i'),
              "TGA"},
        Bytes{"TgaNearMiss",
              "\0\0\x04"_b + std::string(9, '\0') + le16(4) + le16(4) +
                  "\x18\x20"_b,
              kOther},
        Bytes{"Png", "\x89PNG\r\n\x1a\n"_b, "PNG"},
        Bytes{"PngNearMiss", "\x89PNF\r\n\x1a\n"_b, kOther},
        Bytes{"Gif", "GIF89a", "GIF"}, Bytes{"GifNearMiss", "GIF7", kOther},
        Bytes{"Bmp", "BM", "BMP"}, Bytes{"BmpNearMiss", "BA", kOther},
        Bytes{"Psd", "8BPS", "PSD"}, Bytes{"PsdNearMiss", "8BPT", kOther},
        Bytes{"Dds", "DDS ", "DDS"}, Bytes{"DdsNearMiss", "DDS_", kOther},
        Bytes{"Hdr", "#?RADIANCE", "HDR"}, Bytes{"HdrNearMiss", "#!", kOther},
        Bytes{"TiffLittleEndian", "II*\0"_b, "TIFF"},
        Bytes{"TiffBigEndian", "MM\0*"_b, "TIFF"},
        Bytes{"TiffNearMiss", "II\0*"_b, kOther},
        Bytes{"Webp", "RIFF\0\0\0\0WEBPVP8 "_b, "WebP"},
        Bytes{"WebpNearMiss", "RIFF\0\0\0\0WAVEfmt "_b, kOther},
        Bytes{"Heif",
              "\0\0\0\x18"
              "ftypheic"_b,
              "HEIF"},
        Bytes{"Avif",
              "\0\0\0\x18"
              "ftypavif"_b,
              "AVIF"},
        Bytes{"HeifNearMiss",
              "\0\0\0\x18"
              "ftyqheic"_b,
              kOther},
        // Clips: ISO BMFF without a picture's brand, an old MOV without
        // ftyp, EBML, RIFF of the AVI form, and MPEG-TS by its packets'
        // sync bytes (188 bytes apart, or 192 in M2TS).
        Bytes{"Mp4Video",
              "\0\0\0\x18"
              "ftypisom"_b,
              "MP4/MOV"},
        Bytes{"MovWithoutFtyp", "\0\0\0\x08wide\0\0\x10\0mdat"_b, "MP4/MOV"},
        Bytes{"MovBoxOfNoLength", "\0\0\0\0moov"_b, kOther},
        Bytes{"Matroska", "\x1a\x45\xdf\xa3\x9f\x42\x86\x81\x01"_b,
              "Matroska/WebM"},
        Bytes{"Avi", "RIFF\0\0\0\0AVI LIST"_b, "AVI"},
        Bytes{"MpegTs", tsPackets(188, 5), "MPEG-TS"},
        Bytes{"M2ts", tsPackets(192, 5), "MPEG-TS"},
        Bytes{"MpegTsShort", tsPackets(188, 3), "MPEG-TS"},
        Bytes{"MpegTsLostSync", tsPackets(188, 2) + std::string(188 * 3, 'x'),
              kOther},
        Bytes{"TextStartingWithG", "G" + std::string(400, 'o') + "d\n", kOther},
        // Camera RAW photos: by signature, or TIFF underneath and told by
        // their first directory.
        Bytes{"RawFujifilm", "FUJIFILMCCD-RAW 0201", "camera RAW"},
        Bytes{"RawOlympus", "IIRO\x08\0\0\0"_b, "camera RAW"},
        Bytes{"RawPanasonic", "IIU\0\x08\0\0\0"_b, "camera RAW"},
        Bytes{"RawCanonCr3",
              "\0\0\0\x18"
              "ftypcrx "_b,
              "camera RAW"},
        Bytes{"RawCanonCrw", "II\x1a\0\0\0HEAPCCDR"_b, "camera RAW"},
        Bytes{"RawMinolta", "\0MRM\0\0"_b, "camera RAW"},
        Bytes{"RawCanonCr2", "II*\0\x10\0\0\0CR\x02\0"_b, "camera RAW"},
        Bytes{"RawDng", tiffWith(0xc612, "\x01\x04\0\0"_b), "camera RAW"},
        Bytes{"RawByItsMake", tiffWith(0x010f, "NIKON CORPORATION"),
              "camera RAW"},
        Bytes{"RawByAShortMake", tiffWith(0x010f, "Leaf"), "camera RAW"},
        Bytes{"TiffFromAScanner", tiffWith(0x010f, "Scanners Ltd"), "TIFF"},
        Bytes{"TiffDirectoryPastItsEnd", "II*\0\xff\xff\0\0"_b, "TIFF"},
        // SVG: its root element, past what may come before it; gzip.
        Bytes{"Svg", "<svg xmlns='http://www.w3.org/2000/svg'/>", "SVG"},
        Bytes{"SvgAfterItsProlog",
              "\xef\xbb\xbf\n <?xml version='1.0'?><!-- <svg> --><!DOCTYPE "
              "svg [<!ENTITY a '>'><!-- ] -->]>\n<svg>",
              "SVG"},
        Bytes{"SvgWithANamespacePrefix", "<svg:svg xmlns:svg='x'>", "SVG"},
        Bytes{"Svgz", "\x1f\x8b\x08\0"_b, "SVG"},
        Bytes{"XhtmlNotSvg", "<?xml version='1.0'?><html><svg/></html>",
              kOther},
        Bytes{"ElementNamedLonger", "<svgx>", kOther},
        Bytes{"CommentNeverClosed", "<!-- <svg>", kOther},
        Bytes{"SvgPastTheLook",
              "<!--" + std::string(kMarkupLookBytes, '-') + "--><svg>", kOther},
        Bytes{"Text", "Notes for the trip\n", kOther},
        Bytes{"Empty", "", kOther}),
    nameOf);

class DeclaredSizeTest : public ::testing::TestWithParam<Bytes> {};

TEST_P(DeclaredSizeTest, AsTheHeaderSays) {
  const PictureKind &kind = kPictureKinds[PictureKindOf(of(GetParam().file))];
  ASSERT_NE(nullptr, kind.declaredSize) << kind.name;
  PictureSize size = kind.declaredSize(of(GetParam().file));
  EXPECT_EQ(GetParam().expected,
            std::to_string(size.width) + "x" + std::to_string(size.height));
}

const std::string kPngHead = "\x89PNG\r\n\x1a\n"_b;
// As cjxl begins a 6000 x 4000 picture; and the box that begins JPEG XL's
// container.
const std::string kJxl6000x4000 = "\xff\x0a\xfa\x7c\x04\x09"_b;
const std::string kJxlBox = "\0\0\0\x0cJXL \r\n\x87\n"_b;
std::string isoBox(const char *type, const std::string &content) {
  return be32(unsigned(content.size()) + 8) + type + content;
}
const std::string kJpegFrame =
    segment(0xc0, "\x08"_b + be16(3000) + be16(4000) + "\x03"_b);
const std::string kBigApp = segment(0xe1, std::string(65000, 'x'));
const std::string kVp8x = "VP8X"_b + le32(10) + std::string(4, '\0') +
                          "\x3f\0\0"_b + "\x2d\0\0"_b; // 64 x 46

INSTANTIATE_TEST_SUITE_P(
    Kinds, DeclaredSizeTest,
    ::testing::Values(
        Bytes{"Png", kPngHead + pngChunk("IHDR", be32(3) + be32(5)), "3x5"},
        Bytes{"PngCutInItsHeader", kPngHead + be32(13) + "IHDR" + be32(3),
              "3x0"},
        Bytes{"JpegFrameAfterLargeMetadata",
              "\xff\xd8"_b + kBigApp + kBigApp + kBigApp + kJpegFrame,
              "4000x3000"},
        Bytes{"JpegProgressiveFrame",
              "\xff\xd8"_b + segment(0xc2, "\x08"_b + be16(7) + be16(9)),
              "9x7"},
        Bytes{"JpegCutBeforeItsFrame", "\xff\xd8"_b + kBigApp.substr(0, 900),
              "0x0"},
        Bytes{"JpegScanBeforeAFrame",
              "\xff\xd8"_b + segment(0xda, "xx") + kJpegFrame, "0x0"},
        Bytes{"Gif", "GIF89a"_b + le16(7) + le16(9), "7x9"},
        Bytes{"Bmp",
              "BM"_b + std::string(12, '\0') + le32(40) + le32(10) +
                  le32(unsigned(-20)),
              "10x20"},
        Bytes{"BmpOs2",
              "BM"_b + std::string(12, '\0') + le32(12) + le16(6) + le16(7),
              "6x7"},
        Bytes{"Psd", "8BPS"_b + std::string(10, '\0') + be32(13) + be32(11),
              "11x13"},
        Bytes{"Dds", "DDS "_b + std::string(8, '\0') + le32(4) + le32(8),
              "8x4"},
        Bytes{"WebpExtended", "RIFF\0\0\0\0WEBP"_b + kVp8x, "64x46"},
        Bytes{"WebpLossless",
              "RIFF\0\0\0\0WEBPVP8L"_b + le32(5) + "\x2f"_b + le32(4 | 5 << 14),
              "5x6"},
        Bytes{"WebpLossy",
              "RIFF\0\0\0\0WEBPVP8 "_b + le32(10) + "\0\0\0\x9d\x01\x2a"_b +
                  le16(9) + le16(10),
              "9x10"},
        Bytes{"HeifLargestOfItsPictures",
              "\0\0\0\x18"
              "ftypheic"_b +
                  "ispe\0\0\0\0"_b + be32(2) + be32(3) + "ispe\0\0\0\0"_b +
                  be32(40) + be32(30),
              "40x30"},
        Bytes{"JpegXl", kJxl6000x4000, "6000x4000"},
        Bytes{"JpegXlInEighths", "\xff\x0a\x41\x00"_b, "8x8"},
        Bytes{"JpegXlContainer",
              kJxlBox + isoBox("ftyp", "jxl ") + isoBox("jxlc", kJxl6000x4000),
              "6000x4000"},
        Bytes{"JpegXlContainerInParts",
              kJxlBox + isoBox("jxlp", be32(0) + kJxl6000x4000) +
                  isoBox("jxlp", be32(0x80000001) + "more"),
              "6000x4000"}),
    nameOf);

class OrientationTest : public ::testing::TestWithParam<Bytes> {};

// The file's metadata is where its kind keeps it.
TEST_P(OrientationTest, AsTheExifSays) {
  const std::string &file = GetParam().file;
  MetadataIn where = kPictureKinds[PictureKindOf(of(file))].metadata;
  int found = where == MetadataIn::Nowhere
                  ? ExifOrientation(
                        reinterpret_cast<const unsigned char *>(file.data()),
                        file.size())
                  : ReadMetadata(where, of(file)).orientation;
  EXPECT_EQ(std::stoi(GetParam().expected), found);
}

const std::string kExifPrefix = "Exif\0\0"_b;

INSTANTIATE_TEST_SUITE_P(
    Exif, OrientationTest,
    ::testing::Values(
        Bytes{"LittleEndian", exif(true, 6), "6"},
        Bytes{"BigEndian", exif(false, 8), "8"},
        Bytes{"CutShort", exif(true, 6).substr(0, 20), "1"},
        Bytes{"DirectoryPastTheEnd",
              "II"_b + le16(42) + le32(4000) + std::string(20, '\0'), "1"},
        Bytes{"MoreEntriesThanBytes", exif(false, 3, 3, 2), "3"},
        Bytes{"EntriesPastTheEnd", exif(false, 3, 3, 2).substr(0, 18), "1"},
        Bytes{"NotAShort", exif(true, 6, 4), "1"},
        Bytes{"NoSuchOrientation", exif(true, 9), "1"},
        Bytes{"InJpeg",
              "\xff\xd8"_b + segment(0xe0, "JFIF") +
                  segment(0xe1, kExifPrefix + exif(false, 3)) + kJpegFrame,
              "3"},
        Bytes{"InJpegSegmentPastTheEnd",
              ("\xff\xd8"_b + segment(0xe1, kExifPrefix + exif(false, 3)))
                  .substr(0, 30),
              "1"},
        Bytes{"InJpegAfterItsPictureData",
              "\xff\xd8"_b + segment(0xda, "") +
                  segment(0xe1, kExifPrefix + exif(false, 3)),
              "1"},
        Bytes{"InPng",
              kPngHead + pngChunk("IHDR", std::string(13, '\0')) +
                  pngChunk("eXIf", exif(true, 6)),
              "6"},
        Bytes{"InPngAfterItsPictureData",
              kPngHead + pngChunk("IDAT", "") + pngChunk("eXIf", exif(true, 6)),
              "1"},
        Bytes{"InWebp",
              "RIFF\0\0\0\0WEBP"_b + kVp8x + riffChunk("EXIF", exif(true, 5)),
              "5"},
        Bytes{"InWebpWithJpegsPrefix",
              "RIFF\0\0\0\0WEBP"_b +
                  riffChunk("EXIF", kExifPrefix + exif(false, 7)),
              "7"}),
    nameOf);

class MotionPhotoTest : public ::testing::TestWithParam<Bytes> {};

// Where a Motion Photo's clip lies in its JPEG ("at+size"), or "none".
TEST_P(MotionPhotoTest, ItsClipFoundInsideItsFile) {
  const std::string &file = GetParam().file;
  ClipInside c = MotionPhotoClip(
      reinterpret_cast<const unsigned char *>(file.data()), file.size());
  EXPECT_EQ(GetParam().expected,
            c.size == 0 ? "none"
                        : std::to_string(c.at) + "+" + std::to_string(c.size));
}

// A JPEG (its XMP with these properties), then what follows its picture.
std::string motionJpeg(const std::string &xmpProperties,
                       const std::string &after) {
  return "\xff\xd8"_b +
         segment(0xe1, "http://ns.adobe.com/xap/1.0/\0"_b +
                           "<x:xmpmeta><rdf:Description " + xmpProperties +
                           "/></x:xmpmeta>") +
         kJpegFrame + "\xff\xd9"_b + after;
}
const std::string kMp4 = "\0\0\0\x10"
                         "ftypisom"_b +
                         "\0\0\0\x08mdat"_b;
size_t motionJpegSize(const std::string &xmp) {
  return motionJpeg(xmp, "").size();
}
const std::string kClipLength = std::to_string(kMp4.size());
const std::string kDirectory =
    "Item:Semantic='MotionPhoto' Item:Length='" + kClipLength + "'";
const std::string kOffset = "GCamera:MicroVideoOffset='" + kClipLength + "'";

INSTANTIATE_TEST_SUITE_P(
    MotionPhotos, MotionPhotoTest,
    ::testing::Values(
        Bytes{"GooglesContainerDirectory", motionJpeg(kDirectory, kMp4),
              std::to_string(motionJpegSize(kDirectory)) + "+" + kClipLength},
        Bytes{"GooglesMicroVideoOffset", motionJpeg(kOffset, kMp4),
              std::to_string(motionJpegSize(kOffset)) + "+" + kClipLength},
        Bytes{"SamsungsTrailer",
              motionJpeg("a='b'", "MotionPhoto_Data"_b + kMp4 + "SEFT"),
              std::to_string(motionJpegSize("a='b'") + 16) + "+" +
                  std::to_string(kMp4.size() + 4)},
        Bytes{"OffsetPastTheFilesStart",
              motionJpeg("GCamera:MicroVideoOffset='99999'", kMp4), "none"},
        Bytes{"LengthOfNoClip",
              motionJpeg("Item:Semantic='MotionPhoto' Item:Length='0'", kMp4),
              "none"},
        Bytes{"OffsetNotAtAnMp4",
              motionJpeg(kOffset, std::string(kMp4.size(), 'x')), "none"},
        Bytes{"MarkerWithoutAnMp4",
              motionJpeg("a='b'", "MotionPhoto_Data"_b + "nothing"), "none"},
        Bytes{"PlainJpeg", motionJpeg("a='b'", ""), "none"},
        Bytes{"NotAJpeg", "MotionPhoto_Data"_b + kMp4, "none"}),
    nameOf);

// A Live Photo's content identifier, as an iPhone writes it: in the
// photo's EXIF directory, Apple's maker note (its offsets from the note's
// start), tag 0x11; in the MOV, the metadata key
// com.apple.quicktime.content.identifier.
const std::string kMoment = "8D1A7C40-3E5B-4F43-9A7E-1B2C3D4E5F60";
std::string appleNote(const std::string &id, const char *maker = "Apple iOS") {
  return std::string(maker, 9) + "\0\0\x01MM"_b + be16(1) + be16(0x0011) +
         be16(2) + be32(unsigned(id.size()) + 1) + be32(32) + be32(0) + id +
         "\0"_b;
}
// EXIF (big-endian) whose EXIF directory holds `note`, at `noteAt` unless
// told otherwise.
std::string exifWithNote(const std::string &note, unsigned noteAt = 44) {
  return "MM"_b + be16(42) + be32(8) + be16(1) + be16(0x8769) + be16(4) +
         be32(1) + be32(26) + be32(0) + be16(1) + be16(0x927c) + be16(7) +
         be32(unsigned(note.size())) + be32(noteAt) + be32(0) + note;
}
std::string livePhotoJpeg(const std::string &exif) {
  return "\xff\xd8"_b + segment(0xe1, kExifPrefix + exif) + kJpegFrame;
}
// A HEIC whose item 1 is its EXIF, placed by iloc in the mdat after it.
std::string livePhotoHeic(const std::string &exif) {
  std::string ftyp = isoBox("ftyp", "heic\0\0\0\0mif1heic"_b);
  std::string infe =
      isoBox("infe", "\x02\0\0\0"_b + be16(1) + be16(0) + "Exif"_b + "\0"_b);
  std::string iinf = isoBox("iinf", "\0\0\0\0"_b + be16(1) + infe);
  std::string item = be32(6) + kExifPrefix + exif;
  auto iloc = [&](unsigned at) {
    return isoBox("iloc", "\0\0\0\0\x44\0"_b + be16(1) + be16(1) + be16(0) +
                              be16(1) + be32(at) + be32(unsigned(item.size())));
  };
  std::string meta = isoBox("meta", "\0\0\0\0"_b + iinf + iloc(0));
  unsigned at = unsigned(ftyp.size() + meta.size() + 8);
  return ftyp + isoBox("meta", "\0\0\0\0"_b + iinf + iloc(at)) +
         isoBox("mdat", item);
}
// A MOV's moov with a QuickTime meta (no version and flags) whose keys
// name `key` first.
std::string livePhotoMov(const std::string &key, const std::string &id) {
  std::string keys =
      isoBox("keys", "\0\0\0\0"_b + be32(1) + be32(unsigned(key.size()) + 8) +
                         "mdta" + key);
  std::string data = isoBox("data", be32(1) + be32(0) + id);
  std::string ilst =
      isoBox("ilst", be32(unsigned(data.size()) + 8) + "\0\0\0\x01"_b + data);
  std::string hdlr =
      isoBox("hdlr", std::string(8, '\0') + "mdta" + std::string(13, '\0'));
  return isoBox("ftyp", "qt  \0\0\0\0qt  "_b) + isoBox("wide", "") +
         isoBox("moov", isoBox("meta", hdlr + keys + ilst));
}
const std::string kKey = "com.apple.quicktime.content.identifier";

class ContentIdentifierTest : public ::testing::TestWithParam<Bytes> {};

// Found where it is, nothing read past the file's end or the note's; what
// is not Apple's, or not whole, is none.
TEST_P(ContentIdentifierTest, FoundWhereAnIphoneWritesIt) {
  const std::string &file = GetParam().file;
  bool mov = file.compare(4, 8, "ftypqt  ") == 0;
  EXPECT_EQ(GetParam().expected, mov ? MovContentIdentifier(of(file))
                                     : PhotoContentIdentifier(of(file)));
}

INSTANTIATE_TEST_SUITE_P(
    LivePhotos, ContentIdentifierTest,
    ::testing::Values(
        Bytes{"Jpeg", livePhotoJpeg(exifWithNote(appleNote(kMoment))), kMoment},
        Bytes{"Heic", livePhotoHeic(exifWithNote(appleNote(kMoment))), kMoment},
        Bytes{"Mov", livePhotoMov(kKey, kMoment), kMoment},
        Bytes{"JpegOfAnotherMaker",
              livePhotoJpeg(exifWithNote(appleNote(kMoment, "Canon iOS"))), ""},
        Bytes{"JpegWithoutANote", livePhotoJpeg(exif(false, 1)), ""},
        Bytes{"JpegNotePastItsExif",
              livePhotoJpeg(exifWithNote(appleNote(kMoment), 46)), ""},
        Bytes{"JpegIdentifierPastItsNote",
              livePhotoJpeg(exifWithNote(appleNote(kMoment).substr(0, 40))),
              ""},
        Bytes{"HeicCutInItsExif",
              livePhotoHeic(exifWithNote(appleNote(kMoment))).substr(0, 200),
              ""},
        Bytes{"MovOfAnotherKey",
              livePhotoMov("com.apple.quicktime.make", "Apple"), ""}),
    nameOf);

TEST(NaturalOrder, AsFileManagersShowNames) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  struct Pair {
    const char *a, *b;
  };
  // Each pair in order: a before b.
  for (Pair p :
       {Pair{"photo 2.jpg", "photo 10.jpg"},
        Pair{"Photo 3.jpg", "photo 10.jpg"}, Pair{"IMG_0009.jpg", "IMG_10.jpg"},
        Pair{"a.jpg", "B.jpg"}, Pair{"A.jpg", "a.jpg"},
        Pair{"z.jpg", "\xc3\xa4.jpg"},    // UTF-8 after ASCII
        Pair{"\xc3\xa4.jpg", "\xff.jpg"}, // not UTF-8: last
        Pair{"a 7.jpg", "a 007b.jpg"}, Pair{"x-1.jpg", "x1.jpg"},
        Pair{"x1.jpg", "x_1.jpg"},
        Pair{"p 99.jpg", "p 123456789012345678901.jpg"}}) {
    EXPECT_TRUE(NaturalLess(p.a, p.b)) << p.a << " before " << p.b;
    EXPECT_FALSE(NaturalLess(p.b, p.a)) << p.b << " after " << p.a;
    std::vector<std::string> sorted = {p.b, p.a};
    SortNaturally(sorted);
    EXPECT_EQ(p.a, sorted[0]) << "sorted all at once";
  }
}

// A library as photo managers and NAS boxes keep one, walked: each picture
// once, subfolders first, each level in natural order; hidden folders, the
// clutter beside photos, FIFOs and folders entered twice left out.
class LibraryWalkTest : public ::testing::Test {
protected:
  void SetUp() override {
    char made[] = "/tmp/vorlix-walk-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(made));
    lib = made;
    for (const char *d : {"2023", "2023/5", "2023/12", ".hidden", "@eaDir",
                          "#recycle", "lost+found", "$RECYCLE.BIN", "empty"})
      mkdir((lib + "/" + d).c_str(), 0700);
    for (const char *f :
         {"2023/5/a.jpg", "2023/12/b.jpg", "photo 10.jpg", "photo 2.jpg",
          ".hidden/h.jpg", "@eaDir/t.jpg", "#recycle/r.jpg", "lost+found/l.jpg",
          "$RECYCLE.BIN/w.jpg", "notes.txt", ".x.jpg"})
      close(open((lib + "/" + f).c_str(), O_CREAT | O_WRONLY, 0600));
    mkfifo((lib + "/pipe.jpg").c_str(), 0600);          // never opened
    symlink(lib.c_str(), (lib + "/2023/loop").c_str()); // back to the top
    symlink("2023/5", (lib + "/may again").c_str());    // a folder twice
    symlink((lib + "/photo 2.jpg").c_str(), (lib + "/2023/12/c.jpg").c_str());
  }
  void TearDown() override {
    EXPECT_EQ(0, system(("rm -rf '" + lib + "'").c_str()));
  }
  // The pictures walked, below the library.
  std::vector<std::string> walked(const std::string &from = "",
                                  bool subfolders = true, bool clips = true) {
    LibraryWalk w;
    StartWalk(w, {lib}, subfolders, clips,
              from.empty() ? PlaceKey() : KeyOfPath({lib}, lib + "/" + from));
    std::vector<FoundPicture> found;
    while (!w.done)
      WalkOn(w, 1, kAnyFolders, found);
    std::vector<std::string> names;
    for (const FoundPicture &p : found) // a Live Photo as "photo + motion"
      names.push_back(
          p.path.substr(lib.size() + 1) +
          (p.motion.empty() ? "" : " + " + p.motion.substr(lib.size() + 1)));
    return names;
  }
  std::string lib;
};

TEST_F(LibraryWalkTest, EachPictureOnceInTheOrderAFileManagerShows) {
  using Names = std::vector<std::string>;
  EXPECT_EQ((Names{"2023/5/a.jpg", "2023/12/b.jpg", "2023/12/c.jpg",
                   "photo 2.jpg", "photo 10.jpg"}),
            walked());
  // Today's way: the folder's own pictures only.
  EXPECT_EQ((Names{"photo 2.jpg", "photo 10.jpg"}), walked("", false));
  // Going on from a place: what comes after it, then what came before (a
  // folder linked twice, under the name the walk came to first).
  EXPECT_EQ((Names{"2023/12/c.jpg", "may again/a.jpg", "photo 2.jpg",
                   "photo 10.jpg", "2023/12/b.jpg"}),
            walked("2023/12/b.jpg"));
  // From a picture since removed: where it would have been.
  EXPECT_EQ((Names{"photo 10.jpg", "2023/5/a.jpg", "2023/12/b.jpg",
                   "2023/12/c.jpg", "photo 2.jpg"}),
            walked("photo 3.jpg"));
}

// A phone's clips are walked among its photos, in their order, unless
// --no-clips leaves them out.
TEST_F(LibraryWalkTest, ClipsAmongThePhotosUnlessLeftOut) {
  for (const char *f : {"2023/5/clip.MOV", "photo 3.webm", "z.mkv", "b.avi",
                        "00001.MTS", "a.m4v"})
    close(open((lib + "/" + f).c_str(), O_CREAT | O_WRONLY, 0600));
  using Names = std::vector<std::string>;
  EXPECT_EQ((Names{"2023/5/a.jpg", "2023/5/clip.MOV", "2023/12/b.jpg",
                   "2023/12/c.jpg", "00001.MTS", "a.m4v", "b.avi",
                   "photo 2.jpg", "photo 3.webm", "photo 10.jpg", "z.mkv"}),
            walked());
  EXPECT_EQ((Names{"2023/5/a.jpg", "2023/12/b.jpg", "2023/12/c.jpg",
                   "photo 2.jpg", "photo 10.jpg"}),
            walked("", true, false));
}

// A Live Photo (a HEIC or JPEG and a MOV of the same name, in any case) is
// one photo, shown as the photo, the MOV its motion; a MOV beside a photo
// of another name, or an MP4 beside one of the same, is a clip of its own.
TEST_F(LibraryWalkTest, LivePhotoIsOnePhoto) {
  for (const char *f :
       {"2023/5/A.MOV", "2023/12/IMG_1.HEIC", "2023/12/img_1.mov",
        "2023/12/IMG_2.MOV", "photo 2.mp4"})
    close(open((lib + "/" + f).c_str(), O_CREAT | O_WRONLY, 0600));
  using Names = std::vector<std::string>;
  EXPECT_EQ(
      (Names{"2023/5/a.jpg + 2023/5/A.MOV", "2023/12/b.jpg", "2023/12/c.jpg",
             "2023/12/IMG_1.HEIC + 2023/12/img_1.mov", "2023/12/IMG_2.MOV",
             "photo 2.jpg", "photo 2.mp4", "photo 10.jpg"}),
      walked());
}

// Where both carry Apple's content identifier, a MOV of another moment is
// a clip of its own, not the photo's motion (pairing by name alone plays
// the wrong clip); where one has none, the name pairs them. The MOVs as
// FFmpeg writes an iPhone's key.
TEST_F(LibraryWalkTest, LivePhotoOfAnotherMomentIsAClip) {
  auto mov = [&](const std::string &name, const std::string &id) {
    std::string command =
        "ffmpeg -v error -f lavfi -i color=s=16x16:d=0.2 -c:v libx264 "
        "-movflags use_metadata_tags " +
        (id.empty() ? "" : "-metadata " + kKey + "=" + id + " ") + "-f mov '" +
        lib + "/" + name + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  };
  std::string other = "0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0";
  std::ofstream(lib + "/IMG_3.JPG", std::ios::binary)
      << livePhotoJpeg(exifWithNote(appleNote(kMoment)));
  mov("IMG_3.MOV", other);
  std::ofstream(lib + "/IMG_4.JPG", std::ios::binary)
      << livePhotoJpeg(exifWithNote(appleNote(kMoment)));
  mov("IMG_4.MOV", kMoment);
  std::ofstream(lib + "/IMG_5.HEIC", std::ios::binary)
      << livePhotoHeic(exifWithNote(appleNote(kMoment)));
  mov("IMG_5.mov", "");
  using Names = std::vector<std::string>;
  EXPECT_EQ((Names{"2023/5/a.jpg", "2023/12/b.jpg", "2023/12/c.jpg",
                   "IMG_3.JPG", "IMG_3.MOV", "IMG_4.JPG + IMG_4.MOV",
                   "IMG_5.HEIC + IMG_5.mov", "photo 2.jpg", "photo 10.jpg"}),
            walked());
}

long long nowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

// The launcher's side of a show over the library, the viewer's ends of its
// pipes held here: the viewer starts with two pictures, the walk sends the
// rest; a photo being copied in joins once its copy has ended, never cut
// short; its folder and the library's top listed again (files added beside
// them), no picture joins a second time.
TEST_F(LibraryWalkTest, NewPhotoJoinsOnceWhenItsCopyHasEnded) {
  RunningShow show;
  show.lookEverySeconds = 0.05;
  StartWalk(show.walk, {lib}, true, true, PlaceKey());
  std::vector<FoundPicture> found;
  WalkOn(show.walk, 2, kAnyFolders, found);
  ListedAtStart(show, found);
  int news[2], seen[2];
  ASSERT_EQ(0, pipe2(news, O_NONBLOCK));
  ASSERT_EQ(0, pipe(seen));
  show.news = news[1];
  show.seen = seen[0];
  std::thread launcher([&] { KeepTheShowGoing(show); });
  std::string bytes;
  std::vector<NewsRecord> joined;
  auto listen = [&](double seconds) {
    for (long long until = nowMs() + (long long)(seconds * 1000);
         nowMs() < until; usleep(10000)) {
      char b[4096];
      ssize_t n = read(news[0], b, sizeof b);
      if (n > 0)
        bytes.append(b, size_t(n));
      EXPECT_TRUE(TakeNews(bytes, joined));
    }
  };
  listen(0.3);
  ASSERT_EQ(3u, joined.size()) << "the rest of the walk";
  // Copied in slowly: 1.5 s of growing, its time that of the copy.
  std::string photo = lib + "/2023/5/new.jpg";
  for (int i = 0; i < 15; i++) {
    std::ofstream(photo, std::ios::binary | std::ios::app)
        << std::string(1000, '\xff');
    listen(0.1);
  }
  ASSERT_EQ(3u, joined.size()) << "joined while copied in: " << joined[3].path;
  listen(kSettledSeconds + 1.5);
  ASSERT_EQ(4u, joined.size()) << "the photo copied in joins";
  EXPECT_EQ(photo, joined[3].path);
  EXPECT_FALSE(joined[3].found) << "as a photo new in the library";
  for (const char *beside :
       {"/2023/5/notes.txt", "/2023/12/notes.txt", "/notes 2.txt"})
    close(open((lib + beside).c_str(), O_CREAT | O_WRONLY, 0600));
  listen(1.0);
  EXPECT_EQ(4u, joined.size()) << "joined again: " << joined.back().path;
  close(seen[1]); // the viewer ends
  launcher.join();
  for (int fd : {news[0], news[1], seen[0]})
    close(fd);
}

// A tree 1,000 folders deep is walked with a few descriptors; a picture
// whose path is longer than PATH_MAX is left out.
TEST_F(LibraryWalkTest, DeepTreesWithoutADescriptorALevel) {
  std::string deep = lib + "/empty";
  for (int i = 0; i < 1000; i++) {
    deep += "/d";
    ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
  }
  close(open((deep + "/bottom.jpg").c_str(), O_CREAT | O_WRONLY, 0600));
  // Made a level at a time from inside: no path that long can be used.
  int here = open(".", O_RDONLY);
  ASSERT_EQ(0, chdir((lib + "/empty").c_str()));
  for (int i = 0; i < 20; i++)
    ASSERT_TRUE(mkdir(std::string(250, 'x').c_str(), 0700) == 0 &&
                chdir(std::string(250, 'x').c_str()) == 0);
  close(open("far.jpg", O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(0, fchdir(here));
  close(here);
  pid_t pid = fork();
  if (pid == 0) {
    rlimit few = {24, 24};
    setrlimit(RLIMIT_NOFILE, &few);
    std::vector<std::string> names = walked();
    bool bottom = std::count(names.begin(), names.end(),
                             deep.substr(lib.size() + 1) + "/bottom.jpg");
    _exit(bottom && names.size() == 6 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Reads that end anywhere on the news pipe: a record is taken once its end
// has come, whole, never before (a cut path would join the show, a Live
// Photo without its motion would stand still).
TEST(NewsPipe, ARecordIsTakenWholeWhereverAReadEnds) {
  const std::vector<NewsRecord> sent = {
      {true, -1, "/photos/a.jpg", ""},
      {false, 0, "/photos/new\nline 7.jpg", ""},
      {true, 3, "/photos/IMG_1.HEIC", "/photos/IMG_1.MOV"},
      {false, 1, "/photos/IMG_2.JPG", "/photos/IMG_2.mov"},
      {true, 12, "/photos/2024/b.jpg", ""}};
  std::string all;
  std::vector<size_t> ends;
  for (const NewsRecord &r : sent) {
    all += NewsRecordBytes(r);
    ends.push_back(all.size());
  }
  for (size_t cut = 0; cut <= all.size(); cut++) {
    std::string pending = all.substr(0, cut);
    std::vector<NewsRecord> got;
    ASSERT_TRUE(TakeNews(pending, got)) << "cut at " << cut;
    EXPECT_EQ(size_t(std::count_if(ends.begin(), ends.end(),
                                   [&](size_t end) { return end <= cut; })),
              got.size())
        << "records taken from the first " << cut << " bytes";
    pending += all.substr(cut);
    ASSERT_TRUE(TakeNews(pending, got));
    ASSERT_EQ(sent.size(), got.size()) << "cut at " << cut;
    for (size_t i = 0; i < sent.size(); i++) {
      EXPECT_EQ(sent[i].path, got[i].path) << "cut at " << cut;
      EXPECT_EQ(sent[i].after, got[i].after);
      EXPECT_EQ(sent[i].found, got[i].found);
      EXPECT_EQ(sent[i].motion, got[i].motion) << "cut at " << cut;
    }
    EXPECT_TRUE(pending.empty());
  }
}

// What the viewer tells of the show on the seen pipe is read back as it
// was told, wherever a read ends.
TEST(SeenPipe, LinesReadBackAsToldWhereverAReadEnds) {
  const std::vector<SeenRecord> told = {
      {false, 0}, {true, 0xfedcba9876543210ull}, {false, 1234567}, {true, 0}};
  std::string all;
  for (const SeenRecord &r : told)
    all += SeenRecordBytes(r);
  for (size_t cut = 0; cut <= all.size(); cut++) {
    std::string pending = all.substr(0, cut);
    std::vector<SeenRecord> heard;
    TakeSeen(pending, heard);
    pending += all.substr(cut);
    TakeSeen(pending, heard);
    ASSERT_EQ(told.size(), heard.size()) << "cut at " << cut;
    for (size_t i = 0; i < told.size(); i++) {
      EXPECT_EQ(told[i].round, heard[i].round) << "cut at " << cut;
      EXPECT_EQ(told[i].value, heard[i].value) << "cut at " << cut;
    }
    EXPECT_TRUE(pending.empty());
  }
  // A line that is not one is passed over, the next is heard.
  std::string garbled = "x 12\ns \ns 12z\n" + SeenRecordBytes({false, 7});
  std::vector<SeenRecord> heard;
  TakeSeen(garbled, heard);
  ASSERT_EQ(1u, heard.size());
  EXPECT_EQ(7u, heard[0].value);
}

std::string fileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void writeFile(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A place file cut short anywhere (a write cut off, a full disk) counts as
// no place: the show starts from the beginning, never from a path cut
// short; the whole file is the place written.
TEST(ShowPlace, CutShortAnywhereCountsAsNone) {
  char made[] = "/tmp/vorlix-state-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(made));
  std::string state = made;
  setenv("XDG_STATE_HOME", state.c_str(), 1);
  std::string identity = PlaceIdentity({"/photos"}, true, true);
  ShowPlace place;
  place.known = true;
  place.seed = 0x1234abcdull;
  place.last = "/photos/2024/05/IMG_0001.jpg";
  ASSERT_TRUE(WritePlace(identity, place));
  std::string file;
  if (DIR *d = opendir((state + "/vorlix").c_str())) {
    while (dirent *e = readdir(d))
      if (std::string(e->d_name).rfind("place-", 0) == 0)
        file = state + "/vorlix/" + e->d_name;
    closedir(d);
  }
  ASSERT_FALSE(file.empty()) << "no place written";
  std::string whole = fileBytes(file);
  ShowPlace read = ReadPlace(identity);
  ASSERT_TRUE(read.known);
  EXPECT_EQ(place.last, read.last);
  EXPECT_EQ(place.seed, read.seed);
  for (size_t cut = 0; cut < whole.size(); cut++) {
    writeFile(file, whole.substr(0, cut));
    read = ReadPlace(identity);
    EXPECT_FALSE(read.known) << "cut to " << cut << " of " << whole.size()
                             << " bytes, read as " << read.last;
  }
  unsetenv("XDG_STATE_HOME");
  EXPECT_EQ(0, system(("rm -rf '" + state + "'").c_str()));
}

// HDR values as a test codes them: PQ (ST 2084) and HLG (BT.2100, on a
// 1,000 cd/m² screen) for a luminance in cd/m².
double pqCode(double nits) {
  const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128,
               c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
               c3 = 2392.0 / 4096 * 32;
  double y = std::pow(nits / 10000, m1);
  return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}
double hlgCode(double nits) {
  const double a = 0.17883277, b = 1 - 4 * a, c = 0.5 - a * std::log(4 * a);
  double scene = std::pow(nits / 1000, 1 / 1.2);
  return scene <= 1.0 / 12 ? std::sqrt(3 * scene)
                           : a * std::log(12 * scene - b) + c;
}

ColourDescription coded(int primaries, int transfer) {
  ColourDescription c;
  c.source = ColourDescription::kCoded;
  c.primaries = primaries;
  c.transfer = transfer;
  return c;
}

// Greys of a scene, as 8-bit RGB coded with `code`, mapped for the screen:
// the screen's grey levels.
std::vector<int> shownGreys(int transfer, double (*code)(double),
                            const std::vector<double> &nits) {
  HdrMapping m;
  EXPECT_TRUE(PrepareHdrMapping(coded(kPrimariesBt2020, transfer), 0, m));
  std::vector<unsigned char> row;
  for (double n : nits)
    row.insert(row.end(), 3, (unsigned char)std::lround(code(n) * 255));
  MapHdrRow(m, row.data(), 3, int(nits.size()));
  std::vector<int> levels;
  for (size_t i = 0; i < nits.size(); i++) {
    EXPECT_TRUE(row[3 * i] == row[3 * i + 1] && row[3 * i] == row[3 * i + 2])
        << nits[i] << " cd/m2 is grey, no channel apart";
    levels.push_back(row[3 * i]);
  }
  return levels;
}

// An HDR scene on an SDR screen, coded as PQ and as HLG: SDR white near the
// screen's white, what is darker near its SDR level (100 cd/m²: 186),
// highlights in order up to the peak (no clipping below it), and PQ and
// HLG of one scene alike.
TEST(HdrMapping, GreysOfAScene) {
  const std::vector<double> nits = {1000, 400, 203, 100, 20};
  std::vector<int> pq = shownGreys(kTransferPq, pqCode, nits);
  std::vector<int> hlg = shownGreys(kTransferHlg, hlgCode, nits);
  const int expected[] = {255, 250, 229, 186, 89};
  for (size_t i = 0; i < nits.size(); i++) {
    EXPECT_NEAR(expected[i], pq[i], 4) << nits[i] << " cd/m2, PQ";
    EXPECT_NEAR(pq[i], hlg[i], 6) << nits[i] << " cd/m2, HLG against PQ";
  }
  for (size_t i = 1; i < nits.size(); i++)
    EXPECT_GT(pq[i - 1], pq[i]) << "in order";
  EXPECT_GT(shownGreys(kTransferPq, pqCode, {600})[0],
            shownGreys(kTransferPq, pqCode, {400})[0])
      << "highlights compressed, not clipped";
}

// Oklab's hue (degrees) and chroma of linear light in sRGB's primaries.
void oklabHue(const double c[3], double &hue, double &chroma) {
  double l = std::cbrt(0.4122214708 * c[0] + 0.5363325363 * c[1] +
                       0.0514459929 * c[2]),
         m = std::cbrt(0.2119034982 * c[0] + 0.6806995451 * c[1] +
                       0.1073969566 * c[2]),
         s = std::cbrt(0.0883024619 * c[0] + 0.2817188376 * c[1] +
                       0.6299787005 * c[2]);
  double a = 1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
         b = 0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s;
  hue = std::atan2(b, a) * 180 / M_PI;
  chroma = std::hypot(a, b);
}
double srgbToLight(unsigned char v) {
  double x = v / 255.0;
  return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

// Saturated colours of moderate luminance keep their hue: sRGB's red as
// BT.2020 codes it, and BT.2020's own red, outside what the screen shows,
// brought onto it with less chroma, not another hue.
TEST(HdrMapping, SaturatedRedsKeepTheirHue) {
  HdrMapping m;
  ASSERT_TRUE(PrepareHdrMapping(coded(kPrimariesBt2020, kTransferPq), 0, m));
  // 60 cd/m² of sRGB's red, in BT.2020's primaries; 150 of BT.2020's red
  // alone. Their light in sRGB's primaries: sRGB's red, and beyond it.
  const double srgbRedIn2020[3] = {0.6274, 0.0691, 0.0164};
  const double asLight[2][3] = {{1, 0, 0}, {1.660491, -0.124550, -0.018151}};
  unsigned char row[6];
  for (int c = 0; c < 3; c++) {
    row[c] = (unsigned char)std::lround(pqCode(60 / 0.2126 * srgbRedIn2020[c]) *
                                        255);
    row[3 + c] = (unsigned char)std::lround(pqCode(c == 0 ? 150 : 0) * 255);
  }
  MapHdrRow(m, row, 3, 2);
  for (int i = 0; i < 2; i++) {
    const unsigned char *p = row + 3 * i;
    double shown[3] = {srgbToLight(p[0]), srgbToLight(p[1]), srgbToLight(p[2])};
    double hue, chroma, wanted, wantedChroma;
    oklabHue(shown, hue, chroma);
    oklabHue(asLight[i], wanted, wantedChroma);
    SCOPED_TRACE("red " + std::to_string(i) + " shown as " +
                 std::to_string(p[0]) + "," + std::to_string(p[1]) + "," +
                 std::to_string(p[2]));
    EXPECT_NEAR(wanted, hue, 3) << "its hue";
    EXPECT_GT(chroma, 0.15) << "still a saturated red";
  }
}

// Absurd metadata and unknown codes: a peak of 0, of a billion, below SDR
// white or not a number is not believed; a transfer or primaries not known
// here are no HDR to map (shown as stored).
TEST(HdrMapping, AbsurdMetadataAndUnknownCodes) {
  HdrMapping m;
  for (double peak : {0.0, 1e9, -5.0, std::nan("")}) {
    ASSERT_TRUE(
        PrepareHdrMapping(coded(kPrimariesBt2020, kTransferPq), peak, m));
    EXPECT_EQ(kAssumedPeakNits, m.peakNits) << peak;
  }
  ASSERT_TRUE(PrepareHdrMapping(coded(kPrimariesBt2020, kTransferPq), 100, m));
  EXPECT_EQ(kReferenceWhiteNits, m.peakNits);
  unsigned char white[3] = {148, 148, 148}; // 203 cd/m²
  MapHdrRow(m, white, 3, 1);
  EXPECT_GE(white[0], 250) << "a peak at SDR white: SDR white is white";
  EXPECT_FALSE(PrepareHdrMapping(coded(kPrimariesBt2020, 14), 0, m));
  EXPECT_FALSE(PrepareHdrMapping(coded(5, kTransferPq), 0, m));
  ColourDescription untagged;
  EXPECT_FALSE(IsHdr(untagged));
}

// The screen schedule: ranges of the day, crossing midnight or not, read
// from the option; what is no range is refused.
TEST(ScreenSchedule, RangesOfTheDay) {
  ScreenSchedule s;
  const int h = 3600;
  ASSERT_TRUE(ReadScreenSchedule("23:00-07:00,12:30-13:00:30", s));
  struct {
    int second;
    bool off;
  } rows[] = {
      {22 * h + 3599, false}, {23 * h, true},      {0, true},
      {7 * h - 1, true},      {7 * h, false},      {12 * h + 1799, false},
      {12 * h + 1800, true},  {13 * h + 29, true}, {13 * h + 30, false}};
  for (auto &r : rows)
    EXPECT_EQ(r.off, ScreenOffAt(s, r.second)) << r.second;
  EXPECT_EQ(h, SecondsToNextChange(s, 22 * h));
  EXPECT_EQ(8 * h, SecondsToNextChange(s, 23 * h)) << "through midnight";
  EXPECT_EQ(1, SecondsToNextChange(s, 7 * h - 1));
  ASSERT_TRUE(ReadScreenSchedule("00:00-24:00", s) == false)
      << "a whole day is no screen at all";
  for (const char *bad :
       {"", "23:00", "23:00-", "25:00-07:00", "23:60-07:00", "07:00-07:00",
        "23:00-07:00,", "23:00-07:00x", "11pm-7am"})
    EXPECT_FALSE(ReadScreenSchedule(bad, s)) << bad;
}

// The clock jumps (NTP setting a Pi's clock, a new time zone): what the
// screen is follows the time of day it jumped to, at once, whichever way.
TEST(ScreenSchedule, ClockJumpingAcrossARange) {
  ScreenSchedule s;
  ASSERT_TRUE(ReadScreenSchedule("23:00-07:00", s));
  const int h = 3600;
  // A Pi booted without a network thinks it is midnight (off); NTP sets it
  // to noon (on), then a time zone moves it back into the night.
  for (auto [second, off] : {std::pair{0, true},
                             {12 * h, false},
                             {6 * h + 1800, true},
                             {9 * h, false}}) {
    EXPECT_EQ(off, ScreenOffAt(s, second)) << second;
    EXPECT_LE(SecondsToNextChange(s, second), 18 * h)
        << "never a day off or on";
  }
}

// The viewer's clock doesn't count the time it was stopped (SIGTSTP, as a
// photo frame's night stops it): its show and animations go on where they
// were. Time it ran counts.
TEST(ViewerClock, CountsNoTimeStopped) {
  pid_t child = fork();
  if (child == 0) {
    int64_t t0 = NowUs();
    kill(getpid(), SIGTSTP);
    int64_t stopped = NowUs() - t0;
    usleep(300000);
    int64_t ran = NowUs() - t0 - stopped;
    _exit(stopped < 200000 && ran >= 300000 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, WUNTRACED));
  ASSERT_TRUE(WIFSTOPPED(status)) << "stopped by its SIGTSTP";
  sleep(1);
  kill(child, SIGCONT);
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "a second stopped counted, or 0.3 s run not";
}

} // namespace

// What a decoder does with each picture: finds its metadata, reads it with
// the first of its libraries that can (or its animation's first frame),
// and hands it over into the slot in the screen's colours; or hands over
// its animation's next frame.
#include "picture/decoder/process/decode_picture.h"

#include <climits>
#include <cstring>
#include <sys/mman.h>
#include <vector>

#include "picture/decoder/libraries/library.h"
#include "picture/decoder/libraries/playing.h"
#include "picture/decoder/pixels/colour.h"
#include "picture/decoder/pixels/handover.h"
#include "picture/decoder/pixels/hdr.h"
#include "picture/decoder/pixels/metadata.h"
#include "picture/decoder/pixels/transparency.h"
#include "picture/kinds.h"

namespace {

// Hands a picture over into the slot, in the screen's colours: the colours
// its reader's library describes, else those its file's metadata does.
bool handOverInColour(DecodedPicture &picture, const PictureMetadata &file,
                      ShownSize shown, unsigned char *slot, DecodeResult &r) {
  ColourDescription colours = file.colours;
  if (picture.codedTransfer != 0) {
    colours = {};
    colours.source = ColourDescription::kCoded;
    colours.primaries = picture.codedPrimaries;
    colours.transfer = picture.codedTransfer;
  } else if (picture.icc != nullptr) {
    colours = {};
    colours.source = ColourDescription::kIcc;
    colours.icc = picture.icc;
    colours.iccSize = picture.iccSize;
  }
  // HDR: its light mapped for the screen, and sRGB from then on (at 8 bits,
  // where it came at 16), from its peak as its library or its file says;
  // made as small as it is shown first.
  double peak = picture.peakNits > 0 ? picture.peakNits : file.colours.peakNits;
  int reduceBy = int(
      ReductionFactor(picture.width, picture.height, picture.channels, shown));
  if (picture.inks == DecodedPicture::kNoInks || picture.bits == 16)
    MapHdrPicture(picture, colours, peak, reduceBy);
  bool onScreen =
      picture.inks != DecodedPicture::kNoInks && InksToRgb(picture, colours);
  ColourConversion conversion;
  bool convert =
      !onScreen && PrepareConversion(colours, picture.channels, conversion);
  bool handed =
      HandOver(picture, convert ? &conversion : nullptr, shown, slot, r);
  if (convert)
    ReleaseConversion(conversion);
  return handed;
}

// The readers to try, and those of them to try first: the command's, that
// can read its kind here; for a picture whose header declares it to be
// made smaller (too large to show whole, or larger than the screen shows),
// those of them that decode smaller, where there are any; for one whose
// metadata says it is HDR, those that read it deeper first.
uint32_t readersFor(const DecodeCommand &c, const ByteSource &file,
                    const PictureMetadata &metadata, uint32_t &first) {
  uint32_t readers = 0, smaller = 0;
  for (int r = 0; r < kLibraryCount; r++) {
    if (!(c.readers & (1u << r)) || kLibraries[r]->read == nullptr ||
        !Serves(r, c.kind))
      continue;
    readers |= 1u << r;
    if (kDecodeSmaller & (1u << r))
      smaller |= 1u << r;
  }
  auto declared = kPictureKinds[c.kind].declaredSize;
  PictureSize size = declared ? declared(file) : PictureSize{};
  bool larger =
      size.pixels() > 0 &&
      ReductionFactor(int64_t(size.width), int64_t(size.height), 3, c.size) > 1;
  if (larger && smaller != 0)
    readers = smaller;
  first = HdrMetadata(metadata.colours) ? readers & kReadHdrDeeper : 0;
  return readers;
}

// Hands over a frame of an animation as a still is handed over, from a
// copy: the animator's canvas stays as it is. The result names the first
// reader asked (an animator is none).
bool handOverFrame(DecodedPicture frame, const PictureMetadata &metadata,
                   const DecodeCommand &c, std::vector<unsigned char> &copy,
                   unsigned char *slot, DecodeResult &r) {
  copy.resize(size_t(frame.height) * frame.stride);
  std::memcpy(copy.data(), frame.pixels, copy.size());
  frame.pixels = copy.data();
  if (frame.orientation == 1)
    frame.orientation = metadata.orientation;
  ShowOverWhite(frame, false);
  if (!handOverInColour(frame, metadata, c.size, slot, r))
    return false;
  r.reader = __builtin_ctz(c.readers | 1u << kLibraryCount);
  return true;
}

// An animation's first frame as its still, where that is its still, or
// where no reader could read it (libavif reads sequences GdkPixbuf's
// loader won't).
void firstFrameAsStill(const DecodeCommand &c, const unsigned char *file,
                       size_t bytes, const PictureMetadata &metadata,
                       bool moving, unsigned char *slot, DecodeResult &r) {
  Playing playing;
  DecodedPicture frame;
  std::vector<unsigned char> copy;
  int delayMs = 0;
  if (StartPlaying(playing, c.kind, file, bytes) &&
      (KeepUp(playing, c.size, -1), NextFrame(playing, frame, delayMs)) &&
      handOverFrame(frame, metadata, c, copy, slot, r))
    r.moving = moving;
  StopPlaying(playing);
}

} // namespace

void DecodeStill(const DecodeCommand &c, int fd, unsigned char *slot,
                 DecodeResult &r) {
  if (c.fileBytes <= 0 || c.fileBytes > INT_MAX || c.kind < 0 ||
      c.kind >= kPictureKindCount)
    return;
  size_t bytes = size_t(c.fileBytes);
  void *mapped = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED)
    return;
  const unsigned char *file = static_cast<unsigned char *>(mapped);
  ByteSource source{-1, file, bytes};
  PictureMetadata metadata =
      ReadMetadata(kPictureKinds[c.kind].metadata, source);
  // An animation whose first frame is its still: that frame alone.
  bool moving = PictureMoves(c.kind, file, bytes);
  uint32_t first = 0;
  uint32_t readers = StillIsFirstFrame(c.kind, file, bytes, moving)
                         ? 0
                         : readersFor(c, source, metadata, first);
  // Those to try first, then the others, each in the order of their ids.
  for (int i = 0; i < 2 * kLibraryCount && r.reader == kNoReader; i++) {
    int reader = i % kLibraryCount;
    uint32_t these = i < kLibraryCount ? first : readers & ~first;
    DecodedPicture picture;
    picture.orientation = metadata.orientation;
    if (!(these & (1u << reader)) ||
        !kLibraries[reader]->read(file, bytes, c.kind, c.size, picture))
      continue;
    // Over white first, in the values as decoded: what is averaged when
    // the picture is made smaller, and converted to the screen's colours,
    // is then what shows (no colour hidden under a transparent pixel bleeds
    // into its neighbours), and the file's white becomes the screen's.
    ShowOverWhite(picture, kPictureKinds[c.kind].unusedAlpha);
    if (handOverInColour(picture, metadata, c.size, slot, r)) {
      r.reader = reader;
      r.moving = moving;
    }
    kLibraries[reader]->release(picture);
    break;
  }
  if (r.reader == kNoReader)
    firstFrameAsStill(c, file, bytes, metadata, moving, slot, r);
  ReleaseMetadata(metadata);
  munmap(mapped, bytes);
}

namespace {

// The animation this decoder plays, from its first frame command on: the
// file stays mapped, and its metadata read, until the decoder ends (a
// Motion Photo's is its photo's, not its clip's).
struct Animation {
  Playing playing;
  PictureMetadata metadata;
  std::vector<unsigned char> frame; // a copy, to be shown over white
  bool started = false, over = false, restedOnThePhoto = false;
};

// One decoder plays one animation.
Animation animation;

// Where a played motion rests: a Motion Photo on its own photo, a Live
// Photo's MOV on the photo beside it.
void restOnThePhoto(const DecodeCommand &c, int fd, int photoFd,
                    unsigned char *slot, DecodeResult &r) {
  DecodeCommand still = c;
  if (c.photo != kNoPhoto) {
    still.kind = c.photoKind;
    still.fileBytes = c.photoBytes;
    fd = photoFd;
  }
  if (fd < 0 || still.kind < 0 || still.kind >= kPictureKindCount)
    return;
  DecodeStill(still, fd, slot, r);
  r.index = c.index;
  r.moving = 0;
}

} // namespace

void DecodeNextFrame(const DecodeCommand &c, int fd, int photoFd,
                     unsigned char *slot, DecodeResult &r) {
  Animation &a = animation;
  if (!a.started) {
    a.started = true;
    void *mapped =
        c.fileBytes > 0 && c.fileBytes <= INT_MAX
            ? mmap(nullptr, size_t(c.fileBytes), PROT_READ, MAP_PRIVATE, fd, 0)
            : MAP_FAILED;
    const auto *file = static_cast<const unsigned char *>(mapped);
    size_t bytes = size_t(c.fileBytes);
    a.over =
        mapped == MAP_FAILED || !StartPlaying(a.playing, c.kind, file, bytes);
    if (c.photo != kNoPhoto)
      a.playing.plays = 1; // a Live Photo's motion, unlike a clip, plays once
    if (!a.over && !MayHoldAClip(c.kind))
      a.metadata = ReadMetadata(kPictureKinds[c.kind].metadata,
                                ByteSource{-1, file, bytes});
  }
  DecodedPicture frame;
  int delayMs = 0;
  if (!a.over)
    KeepUp(a.playing, c.size, c.playedUs);
  if (a.over || !NextFrame(a.playing, frame, delayMs)) {
    // A Motion Photo's clip or a Live Photo's motion played: the face rests
    // on the photo again, as its last frame, decoded again.
    bool rest =
        (MayHoldAClip(c.kind) || c.photo != kNoPhoto) && !a.restedOnThePhoto;
    a.over = a.restedOnThePhoto = true;
    if (rest) {
      restOnThePhoto(c, fd, photoFd, slot, r);
      r.atUs = a.playing.earlierPlaysUs;
      r.play = 1;
    }
    return;
  }
  if (handOverFrame(frame, a.metadata, c, a.frame, slot, r)) {
    r.delayMs = delayMs;
    r.atUs = FrameDueUs(a.playing, frame);
    r.play = a.playing.played;
  }
}

// A libFuzzer target over the byte parsing done on untrusted files: the
// kind table's signatures, header sizes and channel counts, which the viewer
// itself runs outside any sandbox, the metadata reading a decoder does
// (which way up, and the colour description, down to a PNG's compressed
// profile), and its walks over animations (APNG's chunks, GIF's blocks) and
// the finding of a Motion Photo's clip, and a Live Photo's identifiers,
// which the launcher reads. Every
// input is read both from memory (as a decoder reads it) and through a
// descriptor (as the viewer does), and the two must agree.
//
//   tests/fuzz/run_parser_fuzz.sh builds and runs it.
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <sys/mman.h>
#include <unistd.h>

#include "picture/decoder/libraries/apng_chunks.h"
#include "picture/decoder/libraries/gif_blocks.h"
#include "picture/decoder/libraries/motion_photo.h"
#include "picture/decoder/pixels/metadata.h"
#include "picture/kinds.h"
#include "picture/live_photos.h"

// Every APNG frame lies within its canvas and its data within the file;
// a GIF's walk finds at most two images.
static void walkAnimations(const uint8_t *data, size_t size) {
  ApngHead head;
  if (ReadApngHead(data, size, head)) {
    (void)ApngKeepsTheRules(data, size, head);
    size_t at = head.firstChunk;
    uint32_t sequence = 0;
    ApngFrame f;
    for (int frames = 0; ReadApngFrame(data, size, head, at, sequence, f);
         frames++) {
      if (frames > int(size) || uint64_t(f.x) + f.width > head.width ||
          uint64_t(f.y) + f.height > head.height || at > size)
        abort();
      for (auto &piece : f.data)
        if (piece.first > size || piece.second > size - piece.first)
          abort();
    }
  }
  int plays = -1, images = WalkGifBlocks(data, size, plays);
  if (images < 0 || images > 2 || plays < 0 || plays > 65536)
    abort();
  // A Motion Photo's clip lies inside the file.
  ClipInside clip = MotionPhotoClip(data, size);
  if (clip.size > 0 && (clip.at > size || clip.size > size - clip.at))
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static int fd = memfd_create("picture", 0);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
    abort();
  ByteSource memory{-1, data, size}, file{fd, nullptr, size};

  int kind = PictureKindOf(memory);
  if (PictureKindOf(file) != kind)
    abort();
  for (int k = 0; k < kPictureKindCount; k++) {
    auto holds = kPictureKinds[k].holds;
    if (holds != nullptr && holds(memory) != holds(file))
      abort();
    auto declared = kPictureKinds[k].declaredSize;
    if (declared != nullptr &&
        (declared(memory).width != declared(file).width ||
         declared(memory).height != declared(file).height))
      abort();
    auto channels = kPictureKinds[k].channels;
    if (channels != nullptr && (channels(memory) < 0 || channels(memory) > 4 ||
                                channels(memory) != channels(file)))
      abort();
  }
  for (MetadataIn where : {MetadataIn::JpegSegments, MetadataIn::PngChunks,
                           MetadataIn::RiffChunks, MetadataIn::IsoBoxes}) {
    PictureMetadata m = ReadMetadata(where, memory);
    const ColourDescription &c = m.colours;
    bool inFile = c.icc >= data && c.icc + c.iccSize <= data + size;
    bool ownBytes = c.owned != nullptr && c.icc == c.owned;
    if (m.orientation < 1 || m.orientation > 8 ||
        (c.source == ColourDescription::kIcc &&
         (c.iccSize < 128 || c.iccSize > kMaxProfileBytes ||
          !(inFile || ownBytes))))
      abort();
    ReleaseMetadata(m);
  }
  int orientation = ExifOrientation(data, size);
  if (orientation < 1 || orientation > 8)
    abort();
  walkAnimations(data, size);
  // A Live Photo's content identifiers, read alike both ways.
  if (PhotoContentIdentifier(memory) != PhotoContentIdentifier(file) ||
      MovContentIdentifier(memory) != MovContentIdentifier(file))
    abort();
  return 0;
}

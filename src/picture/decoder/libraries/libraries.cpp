#include "picture/decoder/libraries/library.h"

#include "picture/kinds.h"

// Each library's own file ends with its row.
extern const Library kSoilLibrary, kLibjpegLibrary, kGdkPixbufLibrary,
    kLibjxlLibrary, kLibrsvgLibrary, kLibrawLibrary, kGiflibLibrary,
    kLibpngLibrary, kLibwebpLibrary, kLibavifLibrary, kLibheifLibrary,
    kFfmpegLibrary;

const Library *const kLibraries[] = {
    &kSoilLibrary,    &kLibjpegLibrary, &kGdkPixbufLibrary, &kLibjxlLibrary,
    &kLibrsvgLibrary, &kLibrawLibrary,  &kGiflibLibrary,    &kLibpngLibrary,
    &kLibwebpLibrary, &kLibavifLibrary, &kLibheifLibrary,   &kFfmpegLibrary,
};
static_assert(sizeof kLibraries / sizeof *kLibraries == kLibraryCount,
              "a library for every id");

bool WhereItMoves(const unsigned char *, size_t, bool moving) {
  return moving;
}

namespace {

// For each library, the kinds (1 << kind) it serves in this process.
unsigned served[kLibraryCount];

// The kinds that name it, as a reader or as what plays them.
unsigned kindsOf(int id) {
  unsigned its = 0;
  for (int k = 0; k < kPictureKindCount; k++)
    if ((kPictureKinds[k].readers | kPictureKinds[k].playedBy) & (1u << id))
      its |= 1u << k;
  return its;
}

} // namespace

void ReadyLibraries(unsigned kinds) {
  for (int id = 0; id < kLibraryCount; id++) {
    const Library &l = *kLibraries[id];
    unsigned its = kindsOf(id);
    if (!(kReadiedWhenNeeded & (1u << id)))
      served[id] = l.ready ? l.ready(its) & its : its;
    else if ((kinds & its) != 0)
      served[id] = l.ready(kinds & its) & its;
  }
}

bool Serves(int id, int kind) {
  return id >= 0 && id < kLibraryCount && kind >= 0 &&
         kind < kPictureKindCount && (served[id] & (1u << kind));
}

bool ServesAny(int id) {
  return id >= 0 && id < kLibraryCount && served[id] != 0;
}

const Library *AnimatorFor(int kind) {
  if (kind < 0 || kind >= kPictureKindCount)
    return nullptr;
  uint32_t by = kPictureKinds[kind].playedBy;
  int id = by != 0 ? __builtin_ctz(by) : -1;
  return Serves(id, kind) && kLibraries[id]->open != nullptr ? kLibraries[id]
                                                             : nullptr;
}

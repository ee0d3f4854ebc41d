// giflib, the reader for GIFs, still or animated: one frame at a time (its
// whole-file reading would keep every frame), composited onto one canvas
// as browsers do: a frame's transparent pixels keep what is beneath, and
// after it is shown its area is left, cleared (disposal 2, "to
// background": browsers clear it to transparent) or put back as it was
// before (3, "to previous"). The canvas starts transparent; parts of a
// frame outside it are left out.
#include <algorithm>
#include <cstring>
#include <gif_lib.h>
#include <vector>

#include "picture/decoder/libraries/gif_blocks.h"
#include "picture/decoder/libraries/library.h"
#include "picture/protocol.h"

namespace {

struct Source {
  const unsigned char *file;
  size_t size, at;
};

int readFrom(GifFileType *gif, GifByteType *to, int n) {
  auto *s = static_cast<Source *>(gif->UserData);
  size_t count = std::min(size_t(n < 0 ? 0 : n), s->size - s->at);
  std::memcpy(to, s->file + s->at, count);
  s->at += count;
  return int(count);
}

// What a Graphic Control Extension says about the next frame.
struct Control {
  int disposal = 0, delayCs = 0, transparent = -1;
};

struct Gif {
  Source source;
  GifFileType *gif = nullptr;
  int width = 0, height = 0;
  std::vector<unsigned char> canvas, before, line;
  Control next;
  // The last frame shown: its area on the canvas and what comes of it.
  int disposal = 0, left = 0, top = 0, right = 0, bottom = 0;
};

void close(Gif *g) {
  int error = 0;
  if (g->gif != nullptr)
    DGifCloseFile(g->gif, &error);
  delete g;
}

// Reads an extension, keeping what a Graphic Control Extension says about
// the next frame.
void readExtension(Gif &g, int code, GifByteType *data) {
  if (code == GRAPHICS_EXT_FUNC_CODE && data != nullptr && data[0] >= 4) {
    g.next.disposal = (data[1] >> 2) & 7;
    g.next.delayCs = data[2] | data[3] << 8;
    g.next.transparent = (data[1] & 1) ? data[4] : -1;
  }
  while (DGifGetExtensionNext(g.gif, &data) == GIF_OK && data != nullptr) {
  }
}

// Leaves the last frame's area as its disposal says.
void dispose(Gif &g) {
  for (int y = g.top; y < g.bottom; y++) {
    size_t at = (size_t(y) * g.width + g.left) * 4,
           n = size_t(g.right - g.left) * 4;
    if (g.disposal == 2)
      std::memset(&g.canvas[at], 0, n);
    else if (g.disposal == 3)
      std::memcpy(&g.canvas[at], &g.before[at], n);
  }
}

// Draws the image whose descriptor was just read onto the canvas.
bool draw(Gif &g) {
  const GifImageDesc &d = g.gif->Image;
  const ColorMapObject *map =
      d.ColorMap != nullptr ? d.ColorMap : g.gif->SColorMap;
  if (map == nullptr || d.Width <= 0 || d.Height <= 0)
    return false;
  dispose(g);
  g.disposal = g.next.disposal;
  if (g.disposal == 3)
    g.before = g.canvas;
  g.left = std::clamp(d.Left, 0, g.width);
  g.top = std::clamp(d.Top, 0, g.height);
  g.right = std::clamp(d.Left + d.Width, 0, g.width);
  g.bottom = std::clamp(d.Top + d.Height, 0, g.height);
  g.line.resize(size_t(d.Width));
  // Interlaced rows come in four passes.
  const int starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
  int pass = 0, row = 0;
  for (int i = 0; i < d.Height; i++) {
    if (DGifGetLine(g.gif, g.line.data(), d.Width) != GIF_OK)
      return false;
    int y = d.Top + (d.Interlace ? row : i);
    for (int x = g.left; y >= g.top && y < g.bottom && x < g.right; x++) {
      int index = g.line[size_t(x - d.Left)];
      if (index == g.next.transparent || index >= map->ColorCount)
        continue;
      unsigned char *p = &g.canvas[(size_t(y) * g.width + x) * 4];
      p[0] = map->Colors[index].Red;
      p[1] = map->Colors[index].Green;
      p[2] = map->Colors[index].Blue;
      p[3] = 255;
    }
    if (d.Interlace) {
      row += steps[pass];
      while (row >= d.Height && ++pass < 4)
        row = starts[pass];
    }
  }
  // giflib keeps a record of every image read: this one's is let go.
  GifFreeSavedImages(g.gif);
  g.gif->ImageCount = 0;
  return true;
}

bool GifMoving(const unsigned char *file, size_t size) {
  int plays = 0;
  return WalkGifBlocks(file, size, plays) >= 2;
}

void *GifOpen(const unsigned char *file, size_t size, int &plays) {
  auto *g = new Gif;
  g->source = {file, size, 0};
  int error = 0;
  g->gif = DGifOpen(&g->source, readFrom, &error);
  if (g->gif == nullptr || !FitsInSlot(g->gif->SWidth, g->gif->SHeight, 4)) {
    close(g);
    return nullptr;
  }
  g->width = g->gif->SWidth;
  g->height = g->gif->SHeight;
  g->canvas.assign(size_t(g->width) * g->height * 4, 0);
  WalkGifBlocks(file, size, plays);
  return g;
}

bool GifNext(void *animation, DecodedPicture &frame, int &delayMs) {
  Gif &g = *static_cast<Gif *>(animation);
  GifRecordType type;
  while (DGifGetRecordType(g.gif, &type) == GIF_OK) {
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType *data = nullptr;
      if (DGifGetExtension(g.gif, &code, &data) != GIF_OK)
        return false;
      readExtension(g, code, data);
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(g.gif) != GIF_OK || !draw(g))
        return false;
      delayMs = g.next.delayCs * 10;
      g.next = {};
      frame = {};
      frame.pixels = g.canvas.data();
      frame.width = g.width;
      frame.height = g.height;
      frame.channels = 4;
      frame.stride = size_t(g.width) * 4;
      return true;
    } else {
      return false; // the end, or a record that isn't one
    }
  }
  return false;
}

void GifClose(void *animation) {
  close(static_cast<Gif *>(animation));
}

// As a still: the first frame, as it is first shown.
bool GiflibRead(const unsigned char *file, size_t size, int, ShownSize,
                DecodedPicture &out) {
  int plays = 0, delayMs = 0;
  void *g = GifOpen(file, size, plays);
  if (g == nullptr)
    return false;
  if (!GifNext(g, out, delayMs)) {
    GifClose(g);
    out = {};
    return false;
  }
  out.owner = g;
  return true;
}

void GiflibRelease(DecodedPicture &picture) {
  GifClose(picture.owner);
  picture = {};
}

} // namespace

// clang-format off
extern const Library kGiflibLibrary = {
  "giflib",
  nullptr, // readied
  GiflibRead, GiflibRelease, // its reader
  WhereItMoves, GifMoving, GifOpen, GifNext, GifClose, // its animator
};
// clang-format on

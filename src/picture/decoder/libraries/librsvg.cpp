// librsvg, the reader for SVG drawings (and gzipped ones, which librsvg
// unpacks itself). Loaded into a decoder only when one of its drawings needs
// it, and readied there before the sandbox goes on: fontconfig reads its
// configuration and font lists, and a drawing with text in every face the
// fonts have is drawn once, so that the fonts are open (mapped) and the text
// layout's font map exists in this thread, the one that draws. A drawing is
// given no base file, so librsvg loads nothing it links to (only data: URLs
// within it), and its own limits stay as they are.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <librsvg/rsvg.h>
#include <new>

#include "picture/decoder/libraries/library.h"
#include "picture/kinds.h"

namespace {

// The library's calls, and cairo's and fontconfig's, which it brings along.
struct Rsvg {
  decltype(&rsvg_handle_new_from_data) newFromData;
  decltype(&rsvg_handle_get_intrinsic_size_in_pixels) sizeInPixels;
  decltype(&rsvg_handle_get_intrinsic_dimensions) dimensions;
  decltype(&rsvg_handle_render_document) render;
  decltype(&g_object_unref) unref;
  decltype(&g_clear_error) clearError;
  decltype(&cairo_image_surface_create) newSurface;
  decltype(&cairo_image_surface_get_data) data;
  decltype(&cairo_image_surface_get_stride) stride;
  decltype(&cairo_surface_flush) flush;
  decltype(&cairo_surface_status) surfaceStatus;
  decltype(&cairo_surface_destroy) destroySurface;
  decltype(&cairo_create) newContext;
  decltype(&cairo_destroy) destroyContext;
  int (*rescanInterval)(void *config, int seconds); // FcConfigSetRescanInterval
} rs;

bool findAll(void *lib) {
  return FindCall(lib, "rsvg_handle_new_from_data", rs.newFromData) &&
         FindCall(lib, "rsvg_handle_get_intrinsic_size_in_pixels",
                  rs.sizeInPixels) &&
         FindCall(lib, "rsvg_handle_get_intrinsic_dimensions", rs.dimensions) &&
         FindCall(lib, "rsvg_handle_render_document", rs.render) &&
         FindCall(lib, "g_object_unref", rs.unref) &&
         FindCall(lib, "g_clear_error", rs.clearError) &&
         FindCall(lib, "cairo_image_surface_create", rs.newSurface) &&
         FindCall(lib, "cairo_image_surface_get_data", rs.data) &&
         FindCall(lib, "cairo_image_surface_get_stride", rs.stride) &&
         FindCall(lib, "cairo_surface_flush", rs.flush) &&
         FindCall(lib, "cairo_surface_status", rs.surfaceStatus) &&
         FindCall(lib, "cairo_surface_destroy", rs.destroySurface) &&
         FindCall(lib, "cairo_create", rs.newContext) &&
         FindCall(lib, "cairo_destroy", rs.destroyContext) &&
         FindCall(lib, "FcConfigSetRescanInterval", rs.rescanInterval);
}

// Reads a drawing; null where librsvg can't.
RsvgHandle *open(const unsigned char *file, size_t size) {
  GError *error = nullptr;
  RsvgHandle *handle = rs.newFromData(file, size, &error);
  rs.clearError(&error);
  return handle;
}

// Draws it into a new surface of width x height; null where librsvg can't.
cairo_surface_t *draw(RsvgHandle *handle, int width, int height) {
  cairo_surface_t *surface = rs.newSurface(CAIRO_FORMAT_ARGB32, width, height);
  cairo_t *cr = rs.newContext(surface);
  RsvgRectangle viewport = {0, 0, double(width), double(height)};
  GError *error = nullptr;
  bool drawn = rs.render(handle, cr, &viewport, &error);
  rs.clearError(&error);
  rs.destroyContext(cr);
  if (!drawn || rs.surfaceStatus(surface) != CAIRO_STATUS_SUCCESS) {
    rs.destroySurface(surface);
    return nullptr;
  }
  rs.flush(surface);
  return surface;
}

// Cairo's pixels are premultiplied by their alpha: over white, each colour
// is what is drawn plus white where it is not.
void overWhite(cairo_surface_t *surface, int width, int height,
               unsigned char *rgb) {
  const unsigned char *argb = rs.data(surface);
  size_t stride = size_t(rs.stride(surface));
  for (int y = 0; y < height; y++) {
    const auto *row = reinterpret_cast<const uint32_t *>(argb + y * stride);
    unsigned char *to = rgb + size_t(y) * size_t(width) * 3;
    for (int x = 0; x < width; x++) {
      uint32_t p = row[x], white = 255 - (p >> 24);
      to[3 * x] = (unsigned char)(((p >> 16) & 0xff) + white);
      to[3 * x + 1] = (unsigned char)(((p >> 8) & 0xff) + white);
      to[3 * x + 2] = (unsigned char)((p & 0xff) + white);
    }
  }
}

// Text in the three families every desktop has, in their four faces, a
// blur and a lighting filter, and a PNG and a JPEG within the drawing:
// drawn once before the sandbox, they leave every font file they use read
// and every lazily made thing made (the image loaders of pictures within
// drawings among them).
const char kWarmUp[] =
    "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
    "<filter id='f'><feGaussianBlur stdDeviation='3'/>"
    "<feDiffuseLighting><feDistantLight/></feDiffuseLighting></filter>"
    "<g font-size='8' filter='url(#f)'>"
    "<text y='8' font-family='sans-serif'>Ag<tspan font-weight='bold'>Ag"
    "</tspan><tspan font-style='italic'>Ag</tspan><tspan font-weight='bold' "
    "font-style='italic'>Ag</tspan></text>"
    "<text y='24' font-family='serif'>Ag<tspan font-weight='bold'>Ag"
    "</tspan><tspan font-style='italic'>Ag</tspan><tspan font-weight='bold' "
    "font-style='italic'>Ag</tspan></text>"
    "<text y='40' font-family='monospace'>Ag<tspan font-weight='bold'>Ag"
    "</tspan><tspan font-style='italic'>Ag</tspan><tspan font-weight='bold' "
    "font-style='italic'>Ag</tspan></text></g>"
    "<image width='1' height='1' href='data:image/png;base64,"
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVQI12P4"
    "z8AAAAMBAQAY3Y2wAAAAAElFTkSuQmCC"
    "'/><image width='1' height='1' href='data:image/jpeg;base64,"
    "/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAEBAQEBAQEBAQEBAQEBAQEBAQEB"
    "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQH/"
    "2wBDAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB"
    "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQH/wAARCAAIAAgDAREAAhEBAxEB/8QA"
    "FAABAAAAAAAAAAAAAAAAAAAACv/EABQQAQAAAAAAAAAAAAAAAAAAAAD/xAAV"
    "AQEBAAAAAAAAAAAAAAAAAAAICv/EABQRAQAAAAAAAAAAAAAAAAAAAAD/2gAM"
    "AwEAAhEDEQA/ABzr+BXf/9k="
    "'/></svg>";

// The size a drawing is drawn at: its longer side `longer`, in the
// proportions of its width and height where they are absolute, else of its
// viewBox, else (a size in percentages and no viewBox) a square, as a
// browser lays such a drawing out in a square window.
void sizeToDraw(RsvgHandle *handle, int longer, int &width, int &height) {
  double w = 0, h = 0;
  gboolean hasWidth, hasHeight, hasViewBox;
  RsvgLength lw, lh;
  RsvgRectangle box;
  if (!rs.sizeInPixels(handle, &w, &h)) {
    rs.dimensions(handle, &hasWidth, &lw, &hasHeight, &lh, &hasViewBox, &box);
    w = hasViewBox ? box.width : 1;
    h = hasViewBox ? box.height : 1;
  }
  if (!(w > 0 && h > 0 && std::isfinite(w / h)))
    w = h = 1;
  double scale = longer / std::max(w, h);
  width = std::max(1, int(std::lround(w * scale)));
  height = std::max(1, int(std::lround(h * scale)));
}

// The longer side to draw at: the screen rule's, within the largest
// texture and a slot; where the rule keeps every picture whole, the size
// the drawing declares (or 1024 where it declares none).
int longerSide(RsvgHandle *handle, ShownSize shown) {
  int longer = shown.keepSide;
  if (longer <= 0) {
    double w = 0, h = 0;
    longer = rs.sizeInPixels(handle, &w, &h) && std::max(w, h) >= 1
                 ? int(std::min(std::max(w, h), 1e6))
                 : 1024;
  }
  while (longer > 1 && !Fits(longer, longer, 4, shown.maxSide))
    longer /= 2;
  return longer;
}

unsigned RsvgReady(unsigned kinds) {
  void *lib = dlopen(VORLIX_RSVG_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr || !findAll(lib))
    return 0;
  RsvgHandle *handle = open(reinterpret_cast<const unsigned char *>(kWarmUp),
                            sizeof kWarmUp - 1);
  cairo_surface_t *warm = handle ? draw(handle, 64, 64) : nullptr;
  if (handle != nullptr)
    rs.unref(handle);
  if (warm == nullptr)
    return 0;
  rs.destroySurface(warm);
  // fontconfig looks again at its folders every 30 s, which the sandbox
  // won't let it: what it found now is kept.
  rs.rescanInterval(nullptr, 0);
  return kinds;
}

bool RsvgRead(const unsigned char *file, size_t size, int, ShownSize shown,
              DecodedPicture &out) {
  RsvgHandle *handle = open(file, size);
  if (handle == nullptr)
    return false;
  int width = 0, height = 0;
  sizeToDraw(handle, longerSide(handle, shown), width, height);
  cairo_surface_t *surface = draw(handle, width, height);
  rs.unref(handle);
  if (surface == nullptr)
    return false;
  auto *rgb = new (std::nothrow) unsigned char[size_t(width) * height * 3];
  if (rgb == nullptr) {
    rs.destroySurface(surface);
    return false;
  }
  overWhite(surface, width, height, rgb);
  rs.destroySurface(surface);
  out.pixels = rgb;
  out.width = width;
  out.height = height;
  out.channels = 3;
  out.stride = size_t(width) * 3;
  out.orientation = 1;
  out.owner = rgb;
  return true;
}

void RsvgRelease(DecodedPicture &picture) {
  delete[] static_cast<unsigned char *>(picture.owner);
  picture = {};
}

} // namespace

// clang-format off
extern const Library kLibrsvgLibrary = {
  "librsvg",
  RsvgReady, // readied
  RsvgRead, RsvgRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

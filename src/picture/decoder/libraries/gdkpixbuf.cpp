// GdkPixbuf with its loaders, the reader for the pictures SOIL does not
// read. It is loaded into a decoder process only when one of its pictures
// needs it, and before the sandbox goes on (it opens its library, its loader
// list and its loader modules).
#include <cstring>
#include <dlfcn.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "picture/decoder/libraries/library.h"
#include "picture/decoding_limits.h"
#include "picture/kinds.h"

namespace {

// The library is opened here rather than linked, so that a viewer whose
// pictures SOIL reads never loads it.
struct Pixbuf {
  decltype(&gdk_pixbuf_loader_new_with_type) newLoader;
  decltype(&gdk_pixbuf_loader_write) write;
  decltype(&gdk_pixbuf_loader_close) close;
  decltype(&gdk_pixbuf_loader_get_pixbuf) pixbuf;
  decltype(&gdk_pixbuf_get_width) width;
  decltype(&gdk_pixbuf_get_height) height;
  decltype(&gdk_pixbuf_get_n_channels) channels;
  decltype(&gdk_pixbuf_get_rowstride) rowstride;
  decltype(&gdk_pixbuf_get_bits_per_sample) bits;
  decltype(&gdk_pixbuf_read_pixels) pixels;
  decltype(&gdk_pixbuf_get_option) option;
  decltype(&g_object_unref) unref;
  decltype(&g_clear_error) clearError;
  decltype(&g_signal_connect_data) connect;
  decltype(&g_base64_decode) base64;
  decltype(&g_free) free;
} gp;

bool findAll(void *lib) {
  return FindCall(lib, "gdk_pixbuf_loader_new_with_type", gp.newLoader) &&
         FindCall(lib, "gdk_pixbuf_loader_write", gp.write) &&
         FindCall(lib, "gdk_pixbuf_loader_close", gp.close) &&
         FindCall(lib, "gdk_pixbuf_loader_get_pixbuf", gp.pixbuf) &&
         FindCall(lib, "gdk_pixbuf_get_width", gp.width) &&
         FindCall(lib, "gdk_pixbuf_get_height", gp.height) &&
         FindCall(lib, "gdk_pixbuf_get_n_channels", gp.channels) &&
         FindCall(lib, "gdk_pixbuf_get_rowstride", gp.rowstride) &&
         FindCall(lib, "gdk_pixbuf_get_bits_per_sample", gp.bits) &&
         FindCall(lib, "gdk_pixbuf_read_pixels", gp.pixels) &&
         FindCall(lib, "gdk_pixbuf_get_option", gp.option) &&
         FindCall(lib, "g_object_unref", gp.unref) &&
         FindCall(lib, "g_clear_error", gp.clearError) &&
         FindCall(lib, "g_signal_connect_data", gp.connect) &&
         FindCall(lib, "g_base64_decode", gp.base64) &&
         FindCall(lib, "g_free", gp.free);
}

// Creating a loader opens its module; a loader fed a few bytes of nothing
// also gets past any set-up the module does on its first picture.
bool readyModule(const char *module) {
  GError *error = nullptr;
  GdkPixbufLoader *loader = gp.newLoader(module, &error);
  gp.clearError(&error);
  if (loader == nullptr)
    return false;
  gp.close(loader, nullptr);
  gp.unref(loader);
  return true;
}

// libheif sets itself up (looking through its plugin folder) whenever its
// use count rises from zero, and GdkPixbuf's loader takes it back to zero
// after every picture: hold one use, so that this happens here, once.
void holdLibheif() {
  void *heif = dlopen("libheif.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (heif == nullptr)
    return;
  struct HeifError {
    int code, subcode;
    const char *message;
  };
  using Init = HeifError (*)(void *);
  if (Init init = reinterpret_cast<Init>(dlsym(heif, "heif_init")))
    init(nullptr);
}

// Rows down to which a loader has said the picture is decoded.
void noteRows(GdkPixbufLoader *, int, int y, int, int height, void *rows) {
  int &done = *static_cast<int *>(rows);
  done = y + height > done ? y + height : done;
}

// Feeds all of `data` to a loader for `module`; the loader if it made a
// whole picture, else null. Some loaders take a file cut short without a
// word and leave the rows they never got as the memory held before: a
// picture whose loader reported rows, but not all, is refused like any other
// broken one. (Loaders that decode a file in one go report none.)
GdkPixbufLoader *load(const char *module, const unsigned char *data,
                      size_t size) {
  GError *error = nullptr;
  GdkPixbufLoader *loader = gp.newLoader(module, &error);
  if (loader == nullptr) {
    gp.clearError(&error);
    return nullptr;
  }
  int rows = 0;
  gp.connect(loader, "area-updated", reinterpret_cast<GCallback>(noteRows),
             &rows, nullptr, GConnectFlags(0));
  bool ok = gp.write(loader, data, size, &error);
  ok = gp.close(loader, ok ? &error : nullptr) && ok;
  gp.clearError(&error);
  GdkPixbuf *picture = ok ? gp.pixbuf(loader) : nullptr;
  if (picture != nullptr && (rows == 0 || rows >= gp.height(picture)))
    return loader;
  gp.unref(loader);
  return nullptr;
}

unsigned PixbufReady(unsigned kinds) {
  void *lib = dlopen("libgdk_pixbuf-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr || !findAll(lib))
    return 0;
  // Its libraries' warnings about broken files go nowhere, without the
  // look at the terminal and the process that printing them takes.
  using Handler = decltype(&g_log_set_default_handler);
  if (Handler handler =
          reinterpret_cast<Handler>(dlsym(lib, "g_log_set_default_handler")))
    handler([](const gchar *, GLogLevelFlags, const gchar *, gpointer) {},
            nullptr);
  unsigned ready = 0;
  for (int kind = 0; kind < kPictureKindCount; kind++) {
    const char *module = kPictureKinds[kind].pixbufModule;
    if ((kinds & (1u << kind)) && module != nullptr && readyModule(module))
      ready |= 1u << kind;
  }
  holdLibheif();
  return ready;
}

// The profile a loader found (TIFF's, HEIF's and AVIF's), which it hands
// over in the picture's "icc-profile" option, in base64.
void handOverProfile(GdkPixbuf *picture, DecodedPicture &out) {
  const char *profile = gp.option(picture, "icc-profile");
  if (profile == nullptr || std::strlen(profile) / 4 * 3 > kMaxProfileBytes)
    return;
  gsize size = 0;
  out.iccOwner = gp.base64(profile, &size);
  out.icc = static_cast<const unsigned char *>(out.iccOwner);
  out.iccSize = size;
}

void PixbufRelease(DecodedPicture &picture) {
  gp.unref(picture.owner);
  gp.free(picture.iccOwner);
  picture = {};
}

// The first frame of an animation, 8 bits a channel, RGB or RGBA. A loader
// that turns pictures itself leaves what it did not do in the picture's
// "orientation" option.
bool PixbufRead(const unsigned char *file, size_t size, int kind, ShownSize,
                DecodedPicture &out) {
  GdkPixbufLoader *loader = load(kPictureKinds[kind].pixbufModule, file, size);
  if (loader == nullptr)
    return false;
  GdkPixbuf *picture = gp.pixbuf(loader);
  out.width = gp.width(picture);
  out.height = gp.height(picture);
  out.channels = gp.channels(picture);
  int stride = gp.rowstride(picture);
  out.owner = loader;
  if (gp.bits(picture) != 8 || out.channels < 3 || out.channels > 4 ||
      int64_t(stride) < int64_t(out.width) * out.channels) {
    PixbufRelease(out);
    return false;
  }
  out.stride = size_t(stride);
  out.pixels = gp.pixels(picture);
  if (kPictureKinds[kind].pixbufTurns) {
    const char *left = gp.option(picture, "orientation");
    bool given =
        left != nullptr && left[0] >= '1' && left[0] <= '8' && left[1] == '\0';
    out.orientation = given ? left[0] - '0' : 1;
  }
  handOverProfile(picture, out);
  return true;
}

} // namespace

// clang-format off
extern const Library kGdkPixbufLibrary = {
  "GdkPixbuf",
  PixbufReady, // readied
  PixbufRead, PixbufRelease, // its reader
  nullptr, nullptr, nullptr, nullptr, nullptr, // its animator
};
// clang-format on

// Font files for drawings, read whole before the sandbox goes on and handed
// to FreeType from memory after it. Cairo keeps at most ten font files open
// and opens one again after closing it; the sandbox refuses that open, so
// the faces made ready would be lost as soon as a drawing used more than
// ten. Cairo opens them by FreeType's FT_New_Face, which this program
// provides in FreeType's place (it is exported from the decoder program, so
// it is the one cairo finds): a file it has read before comes from memory;
// any other is read now where it can be, before the sandbox, and refused
// after it (the text then falls back, as for any font not made ready).
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

struct FontFile {
  std::string path;
  std::vector<unsigned char> bytes;
};

// Kept for the process's life: FreeType reads the faces from them.
std::vector<FontFile> &fontFiles() {
  static auto *files = new std::vector<FontFile>;
  return *files;
}

// All the font files kept come to at most this much.
constexpr size_t kMaxFontBytes = size_t{96} << 20;

const FontFile *readWhole(const char *path) {
  for (const FontFile &f : fontFiles())
    if (f.path == path)
      return &f;
  size_t kept = 0;
  for (const FontFile &f : fontFiles())
    kept += f.bytes.size();
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr)
    return nullptr;
  FontFile read{path, {}};
  unsigned char block[65536];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0 &&
         kept + read.bytes.size() + n <= kMaxFontBytes)
    read.bytes.insert(read.bytes.end(), block, block + n);
  bool whole = std::feof(file) && !std::ferror(file);
  std::fclose(file);
  if (!whole)
    return nullptr;
  fontFiles().push_back(std::move(read));
  return &fontFiles().back();
}

using NewMemoryFace = int (*)(void *library, const unsigned char *bytes,
                              long size, long index, void **face);

} // namespace

extern "C" int FT_New_Face(void *library, const char *path, long index,
                           void **face) {
  static NewMemoryFace fromMemory = [] {
    void *freetype = dlopen("libfreetype.so.6", RTLD_NOW | RTLD_NOLOAD);
    return freetype ? reinterpret_cast<NewMemoryFace>(
                          dlsym(freetype, "FT_New_Memory_Face"))
                    : nullptr;
  }();
  const FontFile *f = path ? readWhole(path) : nullptr;
  if (fromMemory == nullptr || f == nullptr) {
    *face = nullptr;
    return 1; // FreeType's "cannot open resource"
  }
  return fromMemory(library, f->bytes.data(), long(f->bytes.size()), index,
                    face);
}

// Writes the window's icon, at build time, as C++ for the viewer to carry:
// each PNG given becomes its width, its height and its pixels as ARGB
// numbers, one after the other, as the _NET_WM_ICON property of a window
// holds them.
//   embed_icons ICON.png... > window_icon.h
#include <SOIL/SOIL.h>
#include <cstdio>

int main(int argc, char **argv) {
  std::printf("// Made by scripts/embed_icons.cpp from data/icons at build "
              "time.\n#pragma once\n\nconst unsigned long kWindowIcon[] = {\n");
  for (int i = 1; i < argc; i++) {
    int w = 0, h = 0, channels = 0;
    unsigned char *rgba =
        SOIL_load_image(argv[i], &w, &h, &channels, SOIL_LOAD_RGBA);
    if (rgba == nullptr) {
      std::fprintf(stderr, "embed_icons: can't read %s\n", argv[i]);
      return 1;
    }
    std::printf("    %d, %d,", w, h);
    for (int p = 0; p < w * h; p++) {
      const unsigned char *c = rgba + 4 * p;
      unsigned long argb =
          (unsigned long)c[3] << 24 | c[0] << 16 | c[1] << 8 | c[2];
      std::printf("%s0x%08lx,", p % 6 == 0 ? "\n    " : " ", argb);
    }
    std::printf("\n");
    SOIL_free_image_data(rgba);
  }
  std::printf("};\n");
  return 0;
}

// b1.jpg a 12-megapixel photo as an AVIF coded PQ in BT.2020 (its light
// mapped for the screen) against the same AVIF untagged, and as a JPEG XL
// coded PQ (decoded at 16 bits and mapped) against the same untagged:
// exec to the viewer's first frame, beside the bundled pictures.
#include "hdr_rows.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench_support.h"
#include "test_pictures.h"

namespace {

// What `command` makes, given the name of the file to make.
std::string made(const std::string &dir, const std::string &command) {
  std::string out = dir + "/made";
  run_command(command + " " + out + " >/dev/null 2>&1");
  return read_file(out);
}

} // namespace

std::string HdrRows(const std::string &viewer, int runs) {
  std::string work = make_temp_dir(), png = work + "/photo.png";
  run_command("convert -size 4000x3000 -seed 7 plasma:fractal -blur 0x1 "
              "-define png:exclude-chunks=all PNG24:" +
              png + " 2>&1");
  std::string avif = "avifenc -s 8 --ignore-icc --cicp ";
  std::string dirs[4] = {
      folderWithB1(made(work, avif + "1/13/1 " + png)),
      folderWithB1(made(work, avif + "9/16/9 " + png)),
      folderWithB1(made(work, "cjxl -d 1 " + png)),
      folderWithB1(made(work, "cjxl -d 1 -x color_space=RGB_D65_202_Rel_PeQ "
                              "--intensity_target=1000 " +
                                  png))};
  std::vector<double> t[4];
  for (int i = 0; i < runs; i++)
    for (int k = 0; k < 4; k++) {
      double ms = firstFrameMs(viewer, dirs[k]);
      if (ms < 0)
        return "";
      t[k].push_back(ms);
    }
  for (const std::string &dir : dirs)
    remove_tree(dir);
  remove_tree(work);
  char rows[800];
  std::snprintf(rows, sizeof rows,
                "| b1.jpg a 12-megapixel AVIF coded PQ in BT.2020 (read at 16 "
                "bits, made as small as shown, its light mapped for the "
                "screen), against the same untagged | %.0f ms "
                "| %.0f ms | %.2f |\n"
                "| b1.jpg a 12-megapixel JPEG XL coded PQ (decoded at 16 bits, "
                "made as small as shown and mapped), against the same untagged "
                "| %.0f ms | %.0f ms | "
                "%.2f |\n",
                median(t[1]), median(t[0]), median(t[1]) / median(t[0]),
                median(t[3]), median(t[2]), median(t[3]) / median(t[2]));
  return rows;
}

#include "test_pictures.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

const std::array<Quadrants, 6> kFaceColours = {{
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}},
    {{255, 0, 255}, {0, 255, 255}, {128, 0, 0}, {0, 128, 0}},
    {{0, 0, 128}, {128, 128, 0}, {128, 0, 128}, {0, 128, 128}},
    {{128, 128, 128}, {255, 128, 0}, {255, 0, 128}, {128, 255, 0}},
    {{0, 255, 128}, {128, 0, 255}, {0, 128, 255}, {255, 255, 128}},
    {{255, 128, 255}, {128, 255, 255}, {255, 128, 128}, {128, 255, 128}},
}};

std::string make_temp_dir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base ? base : "/tmp") + "/vorlix-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data()))
    std::abort();
  return buf.data();
}

void remove_tree(const std::string &dir) {
  if (dir.size() > 5)
    std::system(("rm -rf '" + dir + "'").c_str());
}

void write_bytes(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_quadrant_picture(const std::string &path, int width, int height,
                            const Quadrants &q) {
  std::string tga(18, '\0');
  tga[2] = 2; // uncompressed true colour
  tga[12] = char(width & 0xff);
  tga[13] = char(width >> 8);
  tga[14] = char(height & 0xff);
  tga[15] = char(height >> 8);
  tga[16] = 24;
  tga[17] = 0x20; // rows stored top row first
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      bool top = y < height / 2, left = x < width / 2;
      const Rgb &c = top ? (left ? q.topLeft : q.topRight)
                         : (left ? q.bottomLeft : q.bottomRight);
      tga += char(c.b);
      tga += char(c.g);
      tga += char(c.r);
    }
  }
  write_bytes(path, tga);
}

void write_face_pictures(const std::string &dir) {
  for (int i = 0; i < 6; i++)
    write_quadrant_picture(dir + "/b" + std::to_string(i + 1) + ".jpg", 64, 64,
                           kFaceColours[i]);
}

void write_solid_face_pictures(const std::string &dir) {
  for (int i = 0; i < 6; i++) {
    Rgb c = kFaceColours[i].topLeft;
    write_quadrant_picture(dir + "/b" + std::to_string(i + 1) + ".jpg", 32, 32,
                           {c, c, c, c});
  }
}

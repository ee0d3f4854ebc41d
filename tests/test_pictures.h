// Pictures and folders written by the tests.
#pragma once

#include <array>
#include <functional>
#include <string>

struct Rgb {
  unsigned char r, g, b;
};

// Quadrant colours of a picture as it is normally viewed.
struct Quadrants {
  Rgb topLeft, topRight, bottomLeft, bottomRight;
};

// Six pictures whose 24 quadrant colours all differ from each other, from
// black and from white.
extern const std::array<Quadrants, 6> kFaceColours;

// A fresh empty folder under the system's temporary folder.
std::string make_temp_dir();
void remove_tree(const std::string &dir);

// Writes an uncompressed TGA picture (SOIL judges the format by content, so
// the name may end in .jpg): each quarter its own colour, no blur.
void write_quadrant_picture(const std::string &path, int width, int height,
                            const Quadrants &q);

// b1.jpg ... b6.jpg with kFaceColours, 64 x 64.
void write_face_pictures(const std::string &dir);

// b1.jpg ... b6.jpg, each one plain colour: the top-left colour of its
// kFaceColours entry.
void write_solid_face_pictures(const std::string &dir);

void write_bytes(const std::string &path, const std::string &bytes);
std::string read_file(const std::string &path);

// Colour profiles, written with lcms2 into `dir`: p3.icc and adobe.icc
// (Display P3 and Adobe RGB (1998), as phones and cameras tag pictures);
// srgb.icc (with a tabulated curve, as the common "sRGB IEC61966-2.1"
// has); gamma18.icc (sRGB's primaries on a gamma of 1.8); and cmyk.icc, of
// its own, which makes cyan greener than plain arithmetic does.
void write_profiles(const std::string &dir);

// A picture of two halves, left and right, each of one colour, written row
// by row, as large as cameras make them (ImageMagick here refuses pictures
// over 16384 across or 128 megapixels): a baseline JPEG, or an 8-bit RGB
// PNG.
void write_halves_jpeg(const std::string &path, int width, int height, Rgb left,
                       Rgb right);
// A baseline JPEG of any size, each pixel as `colour` gives it.
void write_jpeg(const std::string &path, int width, int height,
                const std::function<Rgb(int x, int y)> &colour);
// The same in printing inks, as a scanner or print workflow writes them
// without Adobe's marker: CMYK stored plainly, not inverted (no black ink).
void write_cmyk_jpeg(const std::string &path, int width, int height,
                     const std::function<Rgb(int x, int y)> &colour);
void write_halves_png(const std::string &path, int width, int height, Rgb left,
                      Rgb right);
// An 8-bit RGB PNG of any size, each pixel as `colour` gives it.
void write_png(const std::string &path, int width, int height,
               const std::function<Rgb(int x, int y)> &colour);

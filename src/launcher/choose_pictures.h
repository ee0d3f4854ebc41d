// Which pictures the launcher puts on the cube's faces, from the paths
// people give it: pictures, and folders that stand for the pictures in them.
#pragma once

#include <string>
#include <vector>

// What came of the choice: where to start the viewer, or what was wrong.
struct Choice {
  // A folder to start the viewer in as it is: one that holds b1.jpg ...
  // b6.jpg, or the samples.
  std::string folder;
  // Otherwise the pictures for faces 1 to 6, in order (always six: fewer
  // found are repeated, neighbours in the spin different where they can be).
  std::vector<std::string> pictures;
  // And where more than six were found (and all were asked for), all of
  // them in order, the first six those for the faces: the show's list.
  std::vector<std::string> show;
  // Otherwise, why there is nothing to show (one line, printable).
  std::string problem;
};

// No paths: the samples. One folder holding b1.jpg ... b6.jpg: that folder.
// Otherwise the pictures given (by their content) and those directly in the
// folders given (by their names' endings), each folder's in the order a
// file manager shows them: all of them, or (not `all`) the first six.
Choice ChoosePictures(const std::vector<std::string> &paths,
                      const std::string &samples, bool all = true);

// Orders names as file managers show them: letters without regard to case,
// runs of digits by their value ("photo 2" before "photo 10").
bool NaturalLess(const std::string &a, const std::string &b);
// Sorts names in that order, as fast for 20,000 as for a few.
void SortNaturally(std::vector<std::string> &names);

// The cube's faces, and the name the viewer reads face `face`'s picture
// from (1 to 6: b1.jpg ... b6.jpg) in `folder`.
constexpr int kFaces = 6;
std::string FaceFile(const std::string &folder, int face);

// Which pictures the launcher puts on the cube's faces, from the paths
// people give it: pictures, and folders that stand for the pictures in them.
#pragma once

#include "launcher/library_walk.h"
#include "launcher/natural_order.h"

#include <cstdint>
#include <functional>
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
  std::vector<std::string> motions; // each face's Live Photo's MOV, or empty
  // And where more than six were found, or more may come (all were asked
  // for, and folders were given), all found so far, the first six those for
  // the faces: the show's list; `found` the same with their places.
  std::vector<std::string> show, showMotions;
  std::vector<FoundPicture> found;
  bool more = false; // the walk goes on, or its folders are to be watched
  // Otherwise, why there is nothing to show (one line, printable).
  std::string problem;
};

// How the folders given are walked.
using Preferred = std::function<bool(const std::string &path)>;
struct Walking {
  bool all = true;        // else only the first six
  bool subfolders = true; // else the folders' own pictures only
  bool clips = true;      // else clips are left out
  PlaceKey from;          // where the walk starts (a remembered place)
  // Which pictures to put on the faces first (those not seen yet in a
  // shuffled round, say); null: the first found.
  Preferred preferred;
};

// No paths: the samples. One folder holding b1.jpg ... b6.jpg: that folder.
// Otherwise the pictures given (by their content) and those in the folders
// given and their subfolders (by their names' endings; library_walk.h), in
// the order given, each folder's in the order a file manager shows them:
// `walk` is walked until the six for the faces are found, and left to go
// on.
Choice ChoosePictures(const std::vector<std::string> &paths,
                      const std::string &samples, const Walking &how,
                      LibraryWalk &walk);

// A path given, from the root: as it is where it is absolute, else from
// the working folder (asked once).
std::string AbsolutePath(std::string path);

// The cube's faces, and the name the viewer reads face `face`'s picture
// from (1 to 6: b1.jpg ... b6.jpg) in `folder`.
constexpr int kFaces = 6;
std::string FaceFile(const std::string &folder, int face);
// And the name the viewer finds the face's Live Photo's motion by, beside
// it: b1.mov ... b6.mov.
std::string MotionFile(const std::string &folder, int face);

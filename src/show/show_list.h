// How the launcher tells the viewer of more pictures than its six faces
// hold. Beside the links b1.jpg ... b6.jpg it writes the file "show.list"
// into the viewer's folder; the viewer, finding it there as it starts,
// shows b1.jpg ... b6.jpg as ever, and then the list's pictures in turn
// (show.h). Without the file the viewer shows b1.jpg ... b6.jpg, and
// nothing else.
//
// The file is the line "vorlix show list 1", lines of settings:
//   "seconds S"   the least time of the clock a picture is on show, in
//                 seconds (a decimal number above 0)
//   "order listed" or "order shuffled"
// then an empty line, then every picture's absolute path in the list's
// order, each ended by a NUL byte (a path may hold any other byte,
// newlines too). The first six are the pictures behind b1.jpg ... b6.jpg.
#pragma once

#include <string>
#include <vector>

constexpr const char *kShowListFile = "show.list";

struct ShowList {
  std::vector<std::string> pictures;
  double seconds = 8;
  bool shuffled = false;
};

// Writes the list to `path`; false where it can't be written whole.
bool WriteShowList(const std::string &path, const ShowList &list);

// Reads the list at `path`; false where there is none, or it is not one
// (then `list` is left as it was).
bool ReadShowList(const std::string &path, ShowList &list);

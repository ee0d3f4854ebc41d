// New photos in a library while a show runs. Change notifications see
// nothing done on a network file system from another machine, so every so
// often the folders the walk read are looked at again: one stat each,
// which costs next to nothing while nothing changed, and a folder whose
// modification time changed is listed again (its new subfolders walked).
// A picture new in it joins once it has finished arriving: its size and
// modification time the same at two looks, the time at least kSettledSeconds
// old, so that a photo still being copied is never shown cut short.
// Pictures removed are the viewer's to skip.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "launcher/library_walk.h"

struct LibraryWatch {
  std::vector<ReadFolder> folders;
  std::vector<std::pair<dev_t, ino_t>> entered; // sorted, as the walk's
  std::unordered_set<std::string> known;        // pictures' paths
  bool subfolders = true, clips = true;
  struct Arriving {
    FoundPicture picture;
    off_t size;
    struct timespec modified;
  };
  std::vector<Arriving> arriving;
};

// Takes over the folders a finished walk read.
void WatchWhatWasWalked(LibraryWatch &watch, const LibraryWalk &walk);

// Looks at the folders again (`all`), or only at the pictures arriving;
// adds those that have settled to `settled`, in the library's order.
void LookAgain(LibraryWatch &watch, bool all, double now,
               std::vector<FoundPicture> &settled);

// Seconds a new picture's time must be old to count as settled.
constexpr double kSettledSeconds = 2;

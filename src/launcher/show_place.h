// Where a show stopped, so that the same show started again goes on from
// there: kept by the launcher for each set of folders and order, in
// $XDG_STATE_HOME/vorlix (~/.local/state/vorlix), a small file each, the
// oldest dropped beyond kMaxPlaces. Listed, the place is the last picture
// seen; shuffled, the round's seed and the last picture seen in it (the
// round is made again from its seed: show_list.h). A place that can't be
// read, is damaged or from another version counts as none; one that can't
// be written is said once on standard error, and the show goes on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ShowPlace {
  bool known = false;
  uint64_t seed = 0; // shuffled
  std::string last;  // the last picture seen, its path
};

// The set a place is kept for: the paths given (absolute), the order, and
// whether subfolders are walked.
std::string PlaceIdentity(const std::vector<std::string> &paths, bool shuffled,
                          bool subfolders);

// The place kept for `identity`, where there is one.
ShowPlace ReadPlace(const std::string &identity);

// Keeps `place` for `identity`: written to a new file and renamed into
// place, so that a pulled plug leaves the old or the new. False where it
// can't be written.
bool WritePlace(const std::string &identity, const ShowPlace &place);

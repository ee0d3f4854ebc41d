// The launcher's side of a running show: while the viewer shows the first
// pictures, the walk through the library goes on and what it finds goes to
// the viewer on its news pipe (show_list.h); then the library is watched
// for new photos (library_watch.h); and what the viewer says it has seen
// is kept as the show's place (show_place.h).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "launcher/choose_pictures.h"
#include "launcher/command_line.h"
#include "launcher/library_walk.h"
#include "launcher/library_watch.h"
#include "launcher/show_place.h"
#include "show/show_list.h"

struct RunningShow {
  LibraryWalk walk;
  LibraryWatch watch;
  std::vector<std::string> pictures; // the list's, by number
  std::map<PlaceKey, int> byPlace;   // the same in the library's order
  int news = -1, seen = -1;          // this side's ends of the pipes
  std::string identity;              // of the place kept
  ShowPlace place;
  bool shuffled = false;
  double lookEverySeconds = 30; // how often the library is looked at
};

// How the paths asked for are walked for the request's show (its list):
// clips or not, from the place kept for it (none where it asks to start from
// the start or for only the first six), and, shuffled, the order of its
// round (a new one where none is kept).
Walking PlanTheWalk(RunningShow &show, Request &r);

// Shuffled, with the whole library known: the faces the first six of the
// round, and the list in its order.
void FirstOfTheRound(const ShowList &list, Choice &choice);

// Adds the pictures the viewer was started with, in its list's order.
void ListedAtStart(RunningShow &show, const std::vector<FoundPicture> &found);

// Runs until the viewer closes its seen pipe (it ended): walks on, watches,
// and keeps the place.
void KeepTheShowGoing(RunningShow &show);

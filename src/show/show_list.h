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
//   "longest-clip S"  a clip stays on show until it has played through
//                 once, at most this long (a decimal number above 0)
//   "order listed" or "order shuffled"
//   "news FD"     a pipe the viewer inherits, on which more pictures come
//                 while it runs (below); none: the list is all there is
//   "seen FD"     a pipe the viewer inherits, on which it tells what was
//                 seen (below)
//   "seed X" and "after X"  (shuffled) the first round's order is that of
//                 ShuffleKey(X, path) (hexadecimal), starting after the
//                 key "after" (where a show stopped before)
// then an empty line, then every picture's absolute path in the list's
// order, each ended by a NUL byte (a path may hold any other byte,
// newlines too); a Live Photo's is followed by ">" and the absolute path of
// its motion, the MOV played once as it shows, ended by a NUL byte. The
// first six are the pictures behind b1.jpg ... b6.jpg (a Live Photo's
// motion also linked beside them, as b1.mov ...); listed, the first round
// starts with the first.
//
// On the news pipe, each picture is one record, "f K PATH" or "n K PATH"
// ended by a NUL byte: the list's next picture, placed in the listed order
// right after picture K (its number in the list, from 0; -1: first). "f",
// found by the launcher's walk of the library: it joins the round on; "n",
// a photo new in the library: shuffled, it joins from the next round. A
// Live Photo's record is "F K PATH" or "N K PATH", ended by a NUL byte,
// then its motion's path, ended by a NUL byte. A record cut short is never
// taken.
//
// On the seen pipe the viewer writes a line for each picture seen, "s N"
// (its number in the list), and, shuffled, one as each round starts,
// "r X" (the round's seed, hexadecimal). It never waits for the pipe: what
// does not fit is dropped. Both ends are below (SeenRecordBytes, TakeSeen).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr const char *kShowListFile = "show.list";

struct ShowList {
  std::vector<std::string> pictures;
  std::vector<std::string> motions; // each picture's, empty for none
  double seconds = 8, longestClip = 60;
  bool shuffled = false;
  int news = -1, seen = -1; // the pipes' descriptors, -1 for none
  uint64_t seed = 0, after = 0;
};

// Where a picture comes in a shuffled round of `seed`: rounds go in the
// order of this key, so a round is made again from its seed, and pictures
// added or removed leave the others' order as it was.
uint64_t ShuffleKey(uint64_t seed, const std::string &path);

// A picture on the news pipe.
struct NewsRecord {
  bool found = true; // "f", else "n"
  int after = -1;
  std::string path;
  std::string motion; // a Live Photo's, or empty
};
// Takes the whole records from the front of `bytes`, leaving a record cut
// short there; false where a record is not one (the pipe is then given up).
bool TakeNews(std::string &bytes, std::vector<NewsRecord> &records);
std::string NewsRecordBytes(const NewsRecord &r);

// A line on the seen pipe.
struct SeenRecord {
  bool round = false; // "r": a round starts, `value` its seed; else "s"
  uint64_t value = 0; // "s": the picture seen, its number in the list
};
std::string SeenRecordBytes(const SeenRecord &r);
// Takes the whole lines from the front of `bytes`, leaving a line cut short
// there; a line that is not one is passed over.
void TakeSeen(std::string &bytes, std::vector<SeenRecord> &records);

// Writes the list to `path`; false where it can't be written whole.
bool WriteShowList(const std::string &path, const ShowList &list);

// Reads the list at `path`; false where there is none, or it is not one
// (then `list` is left as it was).
bool ReadShowList(const std::string &path, ShowList &list);
